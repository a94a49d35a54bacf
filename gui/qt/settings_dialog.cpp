#include "settings_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <optional>

#include "convert/convert_options.h"
#include "convert/settings_file.h"
#include "qt_text.h"
#include "settings_form.h"
#include "text/func.h"

namespace tervalo {

namespace {


}  // namespace

TForm2::TForm2(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("変換設定"));
    beep = [] { QApplication::beep(); };
    // Said beside the field, where the user looks, not in a box of its own.
    refused = [this](const QString& text) { ScaleNote->setText(text); };

    // The radio buttons are children of the dialog itself, so they exclude
    // each other; each stands above the group of its direction's options.
    RadioButton1 = new QRadioButton(QStringLiteral("仮点→実点"), this);
    RadioButton1->setChecked(true);
    GroupBox1 = new QGroupBox(this);
    CheckBox1 = new QCheckBox(QStringLiteral("点マーカーにする（Ver.3.00～対応）"), GroupBox1);
    Label1 = new QLabel(QStringLiteral("点コード："), GroupBox1);
    ComboBox1 = new QComboBox(GroupBox1);
    for (const char16_t* glyph : gui::kMarkerGlyphs) ComboBox1->addItem(QString::fromUtf16(glyph));
    ComboBox1->setCurrentIndex(0);
    ComboBox1->setAttribute(Qt::WA_InputMethodEnabled, false);
    Label1->setBuddy(ComboBox1);
    Label2 = new QLabel(QStringLiteral("表示倍率："), GroupBox1);
    Edit1 = new QLineEdit(QStringLiteral("1.0"), GroupBox1);
    Edit1->setMaxLength(10);
    Edit1->setAttribute(Qt::WA_InputMethodEnabled, false);
    Label2->setBuddy(Edit1);
    Label3 = new QLabel(QStringLiteral("倍"), GroupBox1);
    ScaleNote = new QLabel(GroupBox1);
    ScaleNote->setWordWrap(true);
    ScaleNote->setMinimumHeight(ScaleNote->fontMetrics().height() * 2);
    QPalette red = ScaleNote->palette();
    red.setColor(QPalette::WindowText, QColor(190, 0, 0));
    ScaleNote->setPalette(red);
    connect(Edit1, &QLineEdit::textEdited, ScaleNote, &QLabel::clear);

    auto* group1 = new QGridLayout(GroupBox1);
    group1->addWidget(CheckBox1, 0, 0, 1, 4);
    group1->addWidget(Label1, 1, 0);
    group1->addWidget(ComboBox1, 1, 1);
    group1->addWidget(Label2, 2, 0);
    group1->addWidget(Edit1, 2, 1);
    group1->addWidget(Label3, 2, 2);
    group1->addWidget(ScaleNote, 3, 0, 1, 4);
    group1->setColumnStretch(3, 1);
    group1->setColumnMinimumWidth(1, 100);
    group1->setContentsMargins(24, 6, 9, 6);

    RadioButton2 = new QRadioButton(QStringLiteral("実点→仮点"), this);
    GroupBox2 = new QGroupBox(this);
    CheckBox4 = new QCheckBox(QStringLiteral("点マーカーを変換対象とする"), GroupBox2);
    CheckBox5 = new QCheckBox(QStringLiteral("点マーカー端点(黒丸・矢印等)を変換対象とする"), GroupBox2);
    auto* group2 = new QVBoxLayout(GroupBox2);
    group2->addWidget(CheckBox4);
    group2->addWidget(CheckBox5);
    group2->setContentsMargins(24, 6, 9, 6);

    CheckBox2 = new QCheckBox(QStringLiteral("SXF対応寸法図形要素の点データも確認し対応する"), this);
    CheckBox3 = new QCheckBox(QStringLiteral("ブロック図形内も変換対象とする"), this);

    Button1 = new QPushButton(QStringLiteral("ＯＫ(&Y)"), this);
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("キャンセル(&N)"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(RadioButton1);
    layout->addWidget(GroupBox1);
    layout->addWidget(RadioButton2);
    layout->addWidget(GroupBox2);
    layout->addWidget(CheckBox2);
    layout->addWidget(CheckBox3);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
}

void TForm2::setVisible(bool visible) {
    // A dialog of fixed size: its design size, or larger where the texts
    // need more room in the fonts at hand. Set before the window appears.
    if (visible) {
        ensurePolished();
        const QSize size = sizeHint().expandedTo(QSize(384, 280));
        if (size != minimumSize() || size != maximumSize()) setFixedSize(size);
    }
    QDialog::setVisible(visible);
}

void TForm2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TForm2::FormShow() {
    // The stored options are repaired where they are out of range.
    const gui::SettingsForm f = gui::OpenSettingsForm(ConvertOptions);
    CheckBox1->setChecked(f.makeMarker);
    CheckBox2->setChecked(f.sxfDimensions);
    CheckBox3->setChecked(f.blockContents);
    CheckBox4->setChecked(f.convertMarkers);
    CheckBox5->setChecked(f.convertMarkerEnds);
    ComboBox1->setCurrentIndex(f.markerIndex);
    Edit1->setText(Q(f.scaleText));
    ScaleNote->clear();
    RadioButton1->setChecked(true);
    if (f.realToTemporary) RadioButton2->setChecked(true);
    Button1->setFocus();
}

void TForm2::Button1Click() {
    gui::SettingsForm f;
    f.realToTemporary = RadioButton2->isChecked();
    f.makeMarker = CheckBox1->isChecked();
    f.markerIndex = ComboBox1->currentIndex();
    f.scaleText = U(Edit1->text());
    f.sxfDimensions = CheckBox2->isChecked();
    f.blockContents = CheckBox3->isChecked();
    f.convertMarkers = CheckBox4->isChecked();
    f.convertMarkerEnds = CheckBox5->isChecked();
    const std::optional<TConvertOptions> accepted = gui::AcceptSettingsForm(f, ConvertOptions);
    if (!accepted) {
        if (beep) beep();
        if (refused) refused(QString::fromUtf16(gui::kScaleRefusedText));
        Edit1->setFocus();
        return;
    }
    ConvertOptions = *accepted;
    accept();
}

void TForm2::Button2Click() { reject(); }

}  // namespace tervalo
