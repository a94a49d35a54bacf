// Takes the README's pictures of the desktop program and measures a long run.
//   tervalo_screens shots OUTDIR FOLDER DRAWING
//                                         first-start.png of the window without
//                                         settings; results.png of the results
//                                         of a run with files not converted;
//                                         main-window.png listing copies of
//                                         FOLDER's drawings and DRAWING, the
//                                         preview showing DRAWING as a
//                                         conversion to temporary points would
//                                         write it; run-in-progress.png of a
//                                         run over copies of FOLDER's drawings
//   tervalo_screens preview FILE          times the preview of FILE
//   tervalo_screens measure FOLDER N      lists and converts N copies of the
//                                         drawings of FOLDER, and prints the
//                                         times (listing, point counts filled,
//                                         conversion) and the longest pause
//                                         of the window during the run
// Runs the real window on its own settings and output folders in a temporary
// folder; nothing of the user's is read or written but FOLDER.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QSignalSpy>
#include <QSplitter>
#include <QTableView>
#include <QToolButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QDialog>
#include <algorithm>
#include <cstdio>

#include "convert/convert_options.h"
#include "convert/settings_file.h"
#include "file_list_model.h"
#include "main_logic.h"
#include "main_window.h"
#include "preview.h"
#include "qt_text.h"

namespace {

using namespace tervalo;

// Records the longest time between two paints of a widget and between two
// turns of the event loop.
class PauseMeter : public QObject {
public:
    explicit PauseMeter(QWidget* watched) : watched_(watched) { watched->installEventFilter(this); }
    void Start() {
        clock_.start();
        lastPaint_ = lastTick_ = 0;
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.elapsed();
            maxTick_ = std::max(maxTick_, now - lastTick_);
            lastTick_ = now;
        });
        timer_.start();
    }
    void Stop() { timer_.stop(); }
    qint64 MaxPaintGap() const { return maxPaint_; }
    qint64 MaxTickGap() const { return maxTick_; }
    int Paints() const { return paints_; }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == watched_ && e->type() == QEvent::Paint && clock_.isValid()) {
            const qint64 now = clock_.elapsed();
            maxPaint_ = std::max(maxPaint_, now - lastPaint_);
            lastPaint_ = now;
            ++paints_;
        }
        return false;
    }

private:
    QWidget* watched_;
    QElapsedTimer clock_;
    QTimer timer_;
    qint64 lastPaint_ = 0, lastTick_ = 0, maxPaint_ = 0, maxTick_ = 0;
    int paints_ = 0;
};

void Wait(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Copies the drawings of `from` into `to`, `times` times over.
int CopyDrawings(const QString& from, const QString& to, int count) {
    const QStringList names = QDir(from).entryList({"*.jww", "*.jws", "*.JWW", "*.JWS"}, QDir::Files, QDir::Name);
    if (names.isEmpty()) return 0;
    QDir().mkpath(to);
    for (int i = 0; i < count; ++i) {
        const QString& name = names[i % names.size()];
        QFile::copy(from + u'/' + name, to + QStringLiteral("/%1-").arg(i, 5, 10, QChar(u'0')) + name);
    }
    return count;
}

struct Window {
    QTemporaryDir sandbox;
    std::unique_ptr<TForm1> form;
    Window(const QString& reference, const QString& output, int width = 960, int height = 600) {
        AppLocations l;
        l.executablePath = sandbox.path() + QStringLiteral("/bin/tervalo");
        l.configFallbackFolder = sandbox.path() + QStringLiteral("/config");
        l.tempFallbackParent = sandbox.path();
        QDir().mkpath(sandbox.path() + QStringLiteral("/bin"));
        TSettingsData d;
        d.FormWidth = width;
        d.FormHeight = height;
        d.PanelWidth = 220;
        d.ReferenceFolder = U(reference);
        d.OutputFolder = U(output);
        d.ColumnWidths = {0, 0, 0, 0, 0, 0};  // the readable defaults
        SaveSettingsFile(U(l.executablePath + QStringLiteral(".dat")), d);
        form = std::make_unique<TForm1>(l);
        form->hooks.message = [](QWidget*, const QString& t, QMessageBox::Icon) { std::fprintf(stderr, "%s\n", qPrintable(t)); };
        form->hooks.results = [](QWidget*, const QString& s, const QList<QPair<QString, QString>>&) {
            std::fprintf(stderr, "%s\n", qPrintable(s));
        };
        form->hooks.ask = [](QWidget*, const QString&) { return true; };
    }
};

int Shots(const QString& outDir, const QString& folder, const QString& drawing) {
    QTemporaryDir work;
    const QString output = work.path() + QStringLiteral("/out");
    QDir().mkpath(output);
    {
        // The first start: no folder chosen yet, the window at its first size.
        Window w(QString(), QString(), 600, 520);
        QFile::remove(w.sandbox.path() + QStringLiteral("/bin/tervalo.dat"));  // no settings yet
        w.form->show();
        Wait(1500);
        if (!w.form->grab().save(outDir + QStringLiteral("/first-start.png"))) return 1;
    }
    {
        // The results of a run with files that could not be converted.
        const QString some = work.path() + QStringLiteral("/結果");
        CopyDrawings(folder, some, 6);
        QFile cut(some + QStringLiteral("/途中で切れた図面.jww"));
        QFile whole(drawing);
        if (whole.open(QIODevice::ReadOnly) && cut.open(QIODevice::WriteOnly)) cut.write(whole.read(whole.size() / 2));
        cut.close();
        QFile::copy(drawing, some + QStringLiteral("/JWWではない.jws"));
        Window w(some, output, 960, 600);
        w.form->show();
        Wait(1000);
        w.form->hooks.results = UiHooks::Desktop().results;
        bool saved = false;
        QTimer::singleShot(1500, [&] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                saved = dialog->grab().save(outDir + QStringLiteral("/results.png"));
                static_cast<QDialog*>(dialog)->accept();
            }
        });
        w.form->ListView1->selectAll();
        QSignalSpy finished(w.form.get(), &TForm1::RunFinished);
        w.form->ButtonTClick();
        finished.wait(30000);
        if (!saved) return 1;
        QDir(output).removeRecursively();
        QDir().mkpath(output);
    }
    {
        const QString listed = work.path() + QStringLiteral("/一覧");
        const QStringList names = QDir(folder).entryList({"*.jww", "*.jws", "*.JWW", "*.JWS"}, QDir::Files, QDir::Name);
        QDir().mkpath(listed);
        for (const QString& name : names) QFile::copy(folder + u'/' + name, listed + u'/' + name);
        const QString shown = QFileInfo(drawing).fileName();
        QFile::copy(drawing, listed + u'/' + shown);
        Window w(listed, output, 1440, 800);
        w.form->show();
        Wait(2000);  // the folder tree reads its folders in the background
        // The memo and time columns narrower, so that the point counts show.
        w.form->ListView1->setColumnWidth(2, 64);
        w.form->ListView1->setColumnWidth(3, 118);
        w.form->ListView1->setColumnWidth(1, 40);
        const int side = w.form->Splitter2->width();
        w.form->Splitter2->setSizes({side * 62 / 100, side - side * 62 / 100});
        ConvertOptions.Direction = 1;  // to temporary points: every point of a real drawing changes
        w.form->PreviewToggle->setChecked(true);
        w.form->PreviewPane->AfterBox->setChecked(true);
        for (int r = 0; r < w.form->ListModel->rowCount(); ++r)
            if (w.form->ItemCaption(r) == shown) w.form->ListView1->selectRow(r);
        QSignalSpy loaded(w.form->PreviewPane->View, &TPreview::Loaded);
        loaded.wait(10000);
        if (w.form->CountsPending()) QSignalSpy(w.form.get(), &TForm1::CountsFinished).wait(20000);
        Wait(500);
        if (!w.form->grab().save(outDir + QStringLiteral("/main-window.png"))) return 1;
        ResetConvertOptions();
    }
    // A run over many copies, pictured while it goes on.
    const QString many = work.path() + QStringLiteral("/図面");
    CopyDrawings(folder, many, 3000);
    Window w(many, output);
    w.form->show();
    Wait(1500);
    w.form->ListView1->selectAll();
    QSignalSpy finished(w.form.get(), &TForm1::RunFinished);
    w.form->ButtonTClick();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 20000 && !w.form->StatusText().contains(QStringLiteral(" / ")))
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    Wait(300);
    const bool saved = w.form->grab().save(outDir + QStringLiteral("/run-in-progress.png"));
    w.form->StopRun();
    finished.wait(30000);
    return saved ? 0 : 1;
}

int Measure(const QString& folder, int count) {
    QTemporaryDir work;
    const QString many = work.path() + QStringLiteral("/many");
    const QString output = work.path() + QStringLiteral("/out");
    QDir().mkpath(output);
    CopyDrawings(folder, many, count);
    Window w(many, output);
    w.form->show();  // lists the folder once
    Wait(500);
    if (w.form->CountsPending()) QSignalSpy(w.form.get(), &TForm1::CountsFinished).wait(600000);
    PauseMeter listMeter(w.form->ListView1->viewport());
    listMeter.Start();
    QElapsedTimer t;
    t.start();
    w.form->RefreshClick();  // and again, timed
    while (w.form->Listing()) QApplication::processEvents(QEventLoop::AllEvents, 5);
    const qint64 listing = t.elapsed();
    if (w.form->CountsPending()) QSignalSpy(w.form.get(), &TForm1::CountsFinished).wait(600000);
    const qint64 counted = t.elapsed();
    listMeter.Stop();
    const int rows = w.form->ListModel->rowCount();
    std::printf("while listing: longest gap between two turns of the event loop %lld ms, %d repaints of the list\n",
                static_cast<long long>(listMeter.MaxTickGap()), listMeter.Paints());
    w.form->ListView1->selectAll();
    PauseMeter meter(w.form->StatusBar1);
    QSignalSpy finished(w.form.get(), &TForm1::RunFinished);
    meter.Start();
    t.restart();
    w.form->ButtonTClick();
    finished.wait(600000);
    const qint64 converting = t.elapsed();
    meter.Stop();
    std::printf("listed %d files in %lld ms, their point counts all in the list after %lld ms; converted them in %lld ms (%s)\n",
                rows, static_cast<long long>(listing), static_cast<long long>(counted), static_cast<long long>(converting),
                qPrintable(w.form->StatusText()));
    std::printf("during the run: %d repaints of the status bar, longest gap %lld ms; longest gap between two turns "
                "of the event loop %lld ms\n",
                meter.Paints(), static_cast<long long>(meter.MaxPaintGap()), static_cast<long long>(meter.MaxTickGap()));
    return 0;
}

// Times the preview of one file: reading and drawing into primitives in the
// background, the first paint, and a paint after zooming in.
int MeasurePreview(const QString& file) {
    TPreview view;
    view.resize(900, 700);
    view.show();
    QElapsedTimer t;
    t.start();
    QSignalSpy loaded(&view, &TPreview::Loaded);
    view.ShowFile(file, false, TConvertOptions{});
    if (!loaded.wait(600000)) return 1;
    const qint64 reading = t.elapsed();
    // A paint, and the picture drawn off the window's thread for a large
    // drawing: the longest the window waits, and the time until the picture.
    auto paint = [&view](qint64& blocked) {
        QElapsedTimer clock;
        clock.start();
        QSignalSpy drawn(&view, &TPreview::Drawn);
        view.grab();
        blocked = clock.elapsed();
        if (view.Drawing()) drawn.wait(600000);
        return clock.elapsed();
    };
    qint64 firstBlocked = 0, zoomBlocked = 0;
    const qint64 first = paint(firstBlocked);
    view.ZoomAt(QPointF(450, 350), 4);
    const qint64 zoomed = paint(zoomBlocked);
    const std::size_t n = view.Scene() ? view.Scene()->Size() : 0;
    std::printf("%s: %zu primitives; read and drawn into primitives in %lld ms; picture in %lld ms (window "
                "busy %lld ms); zoomed in 4x, picture in %lld ms (window busy %lld ms)\n",
                qPrintable(file), n, static_cast<long long>(reading), static_cast<long long>(first),
                static_cast<long long>(firstBlocked), static_cast<long long>(zoomed), static_cast<long long>(zoomBlocked));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tervalo"));
    const QStringList args = QApplication::arguments();
    if (args.size() == 5 && args[1] == QLatin1String("shots")) return Shots(args[2], args[3], args[4]);
    if (args.size() == 4 && args[1] == QLatin1String("measure")) return Measure(args[2], args[3].toInt());
    if (args.size() == 3 && args[1] == QLatin1String("preview")) return MeasurePreview(args[2]);
    std::fprintf(stderr, "usage: tervalo_screens shots OUTDIR FOLDER DRAWING | measure FOLDER N | preview FILE\n");
    return 2;
}
