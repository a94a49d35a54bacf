// The conversion settings dialog: edits the program's ConvertOptions. The
// options are copied into the controls when the dialog is shown and back
// only when OK is pressed with a valid scale.
#pragma once

#include <QDialog>
#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tervalo {

class TForm2 : public QDialog {
    Q_OBJECT

public:
    explicit TForm2(QWidget* parent = nullptr);

    // The beep and the message of a refused scale (replaceable for tests).
    std::function<void()> beep;
    std::function<void(const QString& text)> refused;

    QRadioButton* RadioButton1;  // temporary -> real
    QGroupBox* GroupBox1;
    QCheckBox* CheckBox1;  // MakeMarker
    QLabel* Label1;
    QComboBox* ComboBox1;  // MarkerIndex
    QLabel* Label2;
    QLineEdit* Edit1;  // MarkerScale
    QLabel* Label3;
    QLabel* ScaleNote;  // why a scale was refused
    QRadioButton* RadioButton2;  // real -> temporary
    QGroupBox* GroupBox2;
    QCheckBox* CheckBox4;  // ConvertMarkers
    QCheckBox* CheckBox5;  // ConvertMarkerEnds
    QCheckBox* CheckBox2;  // SxfDimensions
    QCheckBox* CheckBox3;  // BlockContents
    QPushButton* Button1;  // OK
    QPushButton* Button2;  // cancel

    // Repairs the stored options and shows them (run whenever the dialog is shown).
    void FormShow();
    // OK: takes the options when the scale lies in [1e-8, 1e8], else beeps and
    // puts the focus back into the scale box.
    void Button1Click();
    // Cancel: closes without changing the options.
    void Button2Click();

    void setVisible(bool visible) override;

protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace tervalo
