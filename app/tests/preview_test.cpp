// The preview beside the list and the point-count columns.
#include <QCheckBox>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include "app_test_registry.h"
#include "app_test_support.h"
#include "convert/convert_options.h"
#include "jww_builder.h"
#include "main_window.h"
#include "preview.h"

namespace tervalo::apptest {

namespace {

// A drawing with `temporary` temporary and `real` real points and a line.
Bytes JwwWithPoints(int temporary, int real) {
    const int version = 600;
    test::JwwBodyBuilder body(version);
    body.line(0, 0, 100, 50);
    for (int i = 0; i < temporary; ++i) body.point(i, 1, true);
    for (int i = 0; i < real; ++i) body.point(i, 2, false);
    return test::BuildJwwFrom(test::JwwHeaderBuilder(version).build(), version, body.build());
}

bool WaitLoaded(TPreview& view) {
    if (!view.Loading()) return true;
    QSignalSpy loaded(&view, &TPreview::Loaded);
    return loaded.wait(10000) || !view.Loading();
}

std::size_t PointsOf(const render::Scene& s, render::PointState state) {
    std::size_t n = 0;
    for (const render::PointPrim& p : s.points) n += p.state == state ? 1 : 0;
    return n;
}

}  // namespace

class PreviewTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void countColumnsFillAndSortByValue() {
        Sandbox sandbox;
        const QString folder = sandbox.makeDir(QStringLiteral("drawings"));
        WriteBytes(folder + "/a.jww", JwwWithPoints(3, 0));
        WriteBytes(folder + "/b.jww", JwwWithPoints(12, 2));
        WriteBytes(folder + "/c.jww", JwwWithPoints(0, 1));
        WriteBytes(folder + "/old.jwc", JwcWithComments("DOS drawing", "second"));
        TSettingsData data;
        data.ReferenceFolder = folder.toStdU16String();
        sandbox.writeSettings(data);
        Captured captured;
        auto form = ShowForm(sandbox, captured);
        if (form->CountsPending()) {
            QSignalSpy done(form.get(), &TForm1::CountsFinished);
            QVERIFY(done.wait(10000));
        }
        auto counts = [&](const QString& name) {
            QStringList cells;
            for (int c = kFirstCountColumn; c < kListColumns; ++c)
                cells << form->ListView1->item(RowOf(*form, name), c)->text();
            return cells;
        };
        QCOMPARE(counts("a.jww"), QStringList({"3", "0", "0"}));
        QCOMPARE(counts("b.jww"), QStringList({"12", "2", "0"}));
        QCOMPARE(counts("old.jwc"), QStringList({"", "", ""}));  // not a drawing that converts
        // By value (the first click sorts descending): "12" before "3", the
        // empty cells last.
        form->ListView1ColumnClick(kFirstCountColumn);
        QCOMPARE(Captions(*form), QStringList({"b.jww", "a.jww", "c.jww", "old.jwc"}));

        // The current row is drawn in the preview; after conversion to real
        // points, exactly the temporary points are marked as changed.
        TPreview& view = *form->PreviewPane->View;
        form->ListView1->setCurrentCell(RowOf(*form, "b.jww"), 0);
        QVERIFY(WaitLoaded(view));
        QVERIFY(view.Scene());
        QCOMPARE(PointsOf(*view.Scene(), render::PointState::Temporary), 12u);
        QCOMPARE(view.ChangedCount(), 0u);
        ConvertOptions.Direction = 0;
        form->PreviewPane->AfterBox->setChecked(true);
        QVERIFY(WaitLoaded(view));
        QCOMPARE(PointsOf(*view.Scene(), render::PointState::Temporary), 0u);
        QCOMPARE(view.ChangedCount(), 12u);
        QCOMPARE(view.CountsAfter(), (PointCounts{0, 14, 0}));
        QVERIFY(form->PreviewPane->Info->text().endsWith(QStringLiteral("変換後 仮点 0　実点 14　点マーカー 0")));

        // Zoom keeps the point under the cursor; a drag pans; fit restores.
        view.Fit();
        const double fitted = view.ViewScale();
        const QPointF centre = view.ViewCentre();
        view.ZoomAt(QPointF(view.width() / 2.0, view.height() / 2.0), 2);
        QCOMPARE(view.ViewScale(), fitted * 2);
        QCOMPARE(view.ViewCentre(), centre);
        QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(50, 50));
        QTest::mouseMove(&view, QPoint(70, 50));
        QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(70, 50));
        QVERIFY(view.ViewCentre().x() < centre.x());
        view.grab();  // paints without failing
        view.Fit();
        QCOMPARE(view.ViewScale(), fitted);

        // A DOS-era file shows its header text instead of a drawing.
        form->PreviewPane->AfterBox->setChecked(false);
        form->ListView1->setCurrentCell(RowOf(*form, "old.jwc"), 0);
        QVERIFY(WaitLoaded(view));
        QVERIFY(!view.Scene());
        QVERIFY(view.Message().contains(QStringLiteral("DOS drawing")));
        ResetConvertOptions();
    }
};

TERVALO_APP_TEST(PreviewTest);

}  // namespace tervalo::apptest

#include "preview_test.moc"
