// The conversion settings dialog: showing the options, the scale check,
// confirming and cancelling.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QLocale>
#include <QApplication>
#include <QTest>
#include <clocale>
#include <string>

#include "app_test_registry.h"
#include "convert/convert_options.h"
#include "settings_dialog.h"

namespace tervalo::apptest {

namespace {

bool SameOptions(const TConvertOptions& a, const TConvertOptions& b) {
    return a.Direction == b.Direction && a.MakeMarker == b.MakeMarker && a.MarkerIndex == b.MarkerIndex &&
           a.MarkerScale == b.MarkerScale && a.SxfDimensions == b.SxfDimensions && a.BlockContents == b.BlockContents &&
           a.ConvertMarkers == b.ConvertMarkers && a.ConvertMarkerEnds == b.ConvertMarkerEnds;
}

// The check box of each flag option.
struct FlagBox {
    std::int32_t TConvertOptions::*field;
    QCheckBox* TForm2::*box;
};
const FlagBox kFlags[] = {
    {&TConvertOptions::MakeMarker, &TForm2::CheckBox1},
    {&TConvertOptions::SxfDimensions, &TForm2::CheckBox2},
    {&TConvertOptions::BlockContents, &TForm2::CheckBox3},
    {&TConvertOptions::ConvertMarkers, &TForm2::CheckBox4},
    {&TConvertOptions::ConvertMarkerEnds, &TForm2::CheckBox5},
};

}  // namespace

class SettingsDialogTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { ResetConvertOptions(); }
    void cleanup() { ResetConvertOptions(); }

    void radioButtonsExcludeEachOther() {
        TForm2 dialog;
        // Both are the dialog's own children, each above its direction's group.
        QCOMPARE(dialog.RadioButton1->parentWidget(), &dialog);
        QCOMPARE(dialog.RadioButton2->parentWidget(), &dialog);
        QCOMPARE(dialog.CheckBox1->parentWidget(), dialog.GroupBox1);
        QCOMPARE(dialog.CheckBox5->parentWidget(), dialog.GroupBox2);
        dialog.show();
        QVERIFY(dialog.RadioButton1->isChecked());
        dialog.RadioButton2->setChecked(true);
        QVERIFY(!dialog.RadioButton1->isChecked());
        QCOMPARE(dialog.Edit1->maxLength(), 10);
    }

    void scaleCheck_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<double>("scale");
        QTest::newRow("smallest") << "0.00000001" << true << 1e-8;
        QTest::newRow("largest") << "100000000" << true << 1e8;
        QTest::newRow("exponent") << "2.5e3" << true << 2500.0;
        QTest::newRow("zero") << "0" << false << 0.0;
        QTest::newRow("below smallest") << "9e-9" << false << 0.0;
        QTest::newRow("negative") << "-1" << false << 0.0;
        QTest::newRow("above largest") << "100000001" << false << 0.0;
        QTest::newRow("1e9") << "1e9" << false << 0.0;
        QTest::newRow("letters") << "abc" << false << 0.0;
        QTest::newRow("empty") << "" << false << 0.0;
        QTest::newRow("decimal comma") << "2,5" << false << 0.0;
        QTest::newRow("overflow") << "1e999" << false << 0.0;
    }
    void scaleCheck() {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QFETCH(double, scale);
        ConvertOptions.MarkerScale = 3.0;
        ConvertOptions.MakeMarker = 1;
        const TConvertOptions before = ConvertOptions;
        TForm2 dialog;
        int beeps = 0;
        QStringList refusals;
        dialog.beep = [&beeps] { ++beeps; };
        dialog.refused = [&refusals](const QString& text) { refusals << text; };
        dialog.show();
        QCOMPARE(dialog.Edit1->text(), QStringLiteral("3"));
        dialog.Edit1->setText(text);
        dialog.CheckBox1->setChecked(false);
        QTest::mouseClick(dialog.Button1, Qt::LeftButton);
        if (accepted) {
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(ConvertOptions.MarkerScale, scale);
            QCOMPARE(ConvertOptions.MakeMarker, 0);
            QCOMPARE(beeps, 0);
        } else {
            QVERIFY(dialog.isVisible());
            QCOMPARE(beeps, 1);
            QCOMPARE(refusals.size(), 1);
            QVERIFY2(refusals[0].contains(QStringLiteral("100000000")), qPrintable(refusals[0]));
            QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(dialog.Edit1));
            QVERIFY(SameOptions(ConvertOptions, before));
        }
    }

    // The reason of a refusal stands beside the field (the default, no box),
    // and goes with the next keystroke; the dialog has no maximise button.
    void refusalSaidBesideTheField() {
        TForm2 dialog;
        dialog.beep = [] {};
        dialog.show();
        QVERIFY(!(dialog.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(dialog.windowFlags() & Qt::WindowMinimizeButtonHint);
        dialog.Edit1->setText(QStringLiteral("0"));
        QTest::mouseClick(dialog.Button1, Qt::LeftButton);
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.ScaleNote->text().contains(QStringLiteral("100000000")));
        QVERIFY(QApplication::activeModalWidget() == nullptr || QApplication::activeModalWidget() == &dialog);
        QTest::keyClick(dialog.Edit1, Qt::Key_1);
        QVERIFY(dialog.ScaleNote->text().isEmpty());
    }

    // With a decimal comma in the user's locale, the scale is still shown
    // and taken with a full stop.
    void scaleInACommaLocale() {
        const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
        if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
            QSKIP("no locale with a decimal comma installed");
        const QLocale savedDefault;
        QLocale::setDefault(QLocale(QLocale::German));
        ConvertOptions.MarkerScale = 2.5;
        TForm2 dialog;
        dialog.beep = [] {};
        dialog.refused = [](const QString&) {};
        dialog.show();
        const QString shown = dialog.Edit1->text();
        QTest::mouseClick(dialog.Button1, Qt::LeftButton);
        const bool closed = !dialog.isVisible();
        std::setlocale(LC_NUMERIC, saved.c_str());
        QLocale::setDefault(savedDefault);
        QCOMPARE(shown, QStringLiteral("2.5"));
        QVERIFY(closed);
        QCOMPARE(ConvertOptions.MarkerScale, 2.5);
    }

    void showsAndTakesEachFlag() {
        for (const FlagBox& flag : kFlags) {
            // Shown: only this option is on, so only its box is ticked.
            ResetConvertOptions();
            for (const FlagBox& other : kFlags) ConvertOptions.*(other.field) = 0;
            ConvertOptions.*(flag.field) = 1;
            TForm2 dialog;
            dialog.show();
            for (const FlagBox& other : kFlags)
                QCOMPARE((dialog.*(other.box))->isChecked(), other.field == flag.field);
            dialog.reject();

            // Taken: every option on before, only this box ticked at OK.
            for (const FlagBox& other : kFlags) ConvertOptions.*(other.field) = 1;
            ConvertOptions.*(flag.field) = 0;
            dialog.show();
            for (const FlagBox& other : kFlags) (dialog.*(other.box))->setChecked(other.field == flag.field);
            dialog.Button1Click();
            for (const FlagBox& other : kFlags) QCOMPARE(ConvertOptions.*(other.field), other.field == flag.field ? 1 : 0);
        }
    }

    void cancelKeepsOptions() {
        ConvertOptions.Direction = 1;
        ConvertOptions.MarkerIndex = 2;
        ConvertOptions.MarkerScale = 2.5;
        ConvertOptions.ConvertMarkers = 1;
        const TConvertOptions before = ConvertOptions;
        TForm2 dialog;
        for (int way = 0; way < 2; ++way) {
            dialog.show();
            QVERIFY(dialog.RadioButton2->isChecked());
            dialog.RadioButton1->setChecked(true);
            for (const FlagBox& flag : kFlags) (dialog.*(flag.box))->toggle();
            dialog.ComboBox1->setCurrentIndex(5);
            dialog.Edit1->setText(QStringLiteral("7"));
            if (way == 0)
                QTest::mouseClick(dialog.Button2, Qt::LeftButton);
            else
                QTest::keyClick(&dialog, Qt::Key_Escape);
            QVERIFY(!dialog.isVisible());
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
            QVERIFY(SameOptions(ConvertOptions, before));
        }
        // Reopened, it shows the old values.
        dialog.show();
        QVERIFY(dialog.RadioButton2->isChecked());
        QCOMPARE(dialog.ComboBox1->currentIndex(), 2);
        QCOMPARE(dialog.Edit1->text(), QStringLiteral("2.5"));
        QVERIFY(dialog.CheckBox4->isChecked());
    }

    void enterConfirms() {
        TForm2 dialog;
        dialog.show();
        dialog.Edit1->setText(QStringLiteral("4"));
        QTest::keyClick(dialog.Edit1, Qt::Key_Return);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(ConvertOptions.MarkerScale, 4.0);
    }

    void storedValuesRepaired_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<double>("scale");
        QTest::addColumn<int>("shownIndex");
        QTest::addColumn<QString>("shownScale");
        QTest::newRow("index 9, scale 0") << 9 << 0.0 << 6 << "1";
        QTest::newRow("index -3, negative scale") << -3 << -2.0 << 0 << "1";
        QTest::newRow("scale 5e8") << 4 << 5e8 << 4 << "100000000";
        QTest::newRow("in range") << 1 << 0.25 << 1 << "0.25";
    }
    void storedValuesRepaired() {
        QFETCH(int, index);
        QFETCH(double, scale);
        QFETCH(int, shownIndex);
        QFETCH(QString, shownScale);
        ConvertOptions.MarkerIndex = index;
        ConvertOptions.MarkerScale = scale;
        TForm2 dialog;
        dialog.show();
        QCOMPARE(dialog.ComboBox1->currentIndex(), shownIndex);
        QCOMPARE(dialog.Edit1->text(), shownScale);
        QCOMPARE(dialog.focusWidget(), static_cast<QWidget*>(dialog.Button1));
        dialog.Button1Click();
        QCOMPARE(ConvertOptions.MarkerIndex, shownIndex);
        QCOMPARE(ConvertOptions.MarkerScale, shownScale.toDouble());
    }

    void directionSwitchKeepsMarkerOptions() {
        ConvertOptions.MakeMarker = 1;
        ConvertOptions.MarkerIndex = 3;
        ConvertOptions.MarkerScale = 2.0;
        TForm2 dialog;
        dialog.show();
        QVERIFY(dialog.RadioButton1->isChecked());
        // A click on the button's circle (the widget is wider than its text).
        QTest::mouseClick(dialog.RadioButton2, Qt::LeftButton, {}, QPoint(8, dialog.RadioButton2->height() / 2));
        QVERIFY(!dialog.RadioButton1->isChecked());
        // Nothing is disabled by the direction.
        QVERIFY(dialog.GroupBox1->isEnabled() && dialog.CheckBox1->isEnabled() && dialog.ComboBox1->isEnabled());
        dialog.Button1Click();
        QCOMPARE(ConvertOptions.Direction, 1);
        QCOMPARE(ConvertOptions.MakeMarker, 1);
        QCOMPARE(ConvertOptions.MarkerIndex, 3);
        QCOMPARE(ConvertOptions.MarkerScale, 2.0);

        dialog.show();
        QVERIFY(dialog.RadioButton2->isChecked());
        QVERIFY(dialog.CheckBox1->isChecked());
        QCOMPARE(dialog.ComboBox1->currentText(), QStringLiteral("＋"));
        dialog.RadioButton1->setChecked(true);
        dialog.Button1Click();
        QCOMPARE(ConvertOptions.Direction, 0);
        QCOMPARE(ConvertOptions.MakeMarker, 1);
        QCOMPARE(ConvertOptions.MarkerIndex, 3);
    }
};

TERVALO_APP_TEST(SettingsDialogTest);

}  // namespace tervalo::apptest

#include "settings_dialog_test.moc"
