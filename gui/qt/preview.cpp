#include "preview.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

#include "preview_job.h"
#include "preview_view.h"
#include "qt_text.h"

namespace tervalo {

using gui::PreviewContent;

namespace {

// Scenes up to this size are drawn when painted; larger ones off the
// window's thread, the last picture standing in meanwhile.
constexpr std::size_t kDrawnAtOnce = 100'000;
const QColor kTemporary(0xe0, 0x70, 0x00), kReal(0x00, 0x40, 0xff), kMarker(0xc0, 0x00, 0x7a);

void DrawGlyph(QPainter& p, render::MarkerGlyph g) {
    using render::MarkerGlyph;
    switch (g) {
        case MarkerGlyph::Star:
            p.drawLine(QLineF(-5, 0, 5, 0));
            p.drawLine(QLineF(0, -5, 0, 5));
            p.drawLine(QLineF(-3.5, -3.5, 3.5, 3.5));
            p.drawLine(QLineF(-3.5, 3.5, 3.5, -3.5));
            break;
        case MarkerGlyph::Circle: p.drawEllipse(QPointF(0, 0), 4.5, 4.5); break;
        case MarkerGlyph::Dot:
            p.setBrush(p.pen().color());
            p.drawEllipse(QPointF(0, 0), 2, 2);
            break;
        case MarkerGlyph::Plus:
            p.drawLine(QLineF(-5, 0, 5, 0));
            p.drawLine(QLineF(0, -5, 0, 5));
            break;
        case MarkerGlyph::Square: p.drawRect(QRectF(-4, -4, 8, 8)); break;
        case MarkerGlyph::Triangle: p.drawPolygon(QPolygonF({QPointF(0, -5), QPointF(4.5, 3.5), QPointF(-4.5, 3.5)})); break;
        case MarkerGlyph::Cross:
            p.drawLine(QLineF(-4, -4, 4, 4));
            p.drawLine(QLineF(-4, 4, 4, -4));
            break;
        default: p.drawPolygon(QPolygonF({QPointF(0, -5), QPointF(5, 0), QPointF(0, 5), QPointF(-5, 0)})); break;
    }
}

// One point's symbol at pixel (x, y).
// Cuts the line to the rectangle [x0, x1] x [y0, y1]; false when nothing of
// it is inside or an end is not a number. The painter then never strokes (or
// dashes) the length of a line far outside the view.
bool ClipLine(QLineF& l, double x0, double y0, double x1, double y1) {
    double ax = l.x1(), ay = l.y1(), bx = l.x2(), by = l.y2();
    if (!gui::ClipSegment(ax, ay, bx, by, x0, y0, x1, y1)) return false;
    l = QLineF(ax, ay, bx, by);
    return true;
}

// One point's symbol at pixel (x, y); temporary and real points are drawn
// without changing the painter's transform (there are many of them).
void DrawPoint(QPainter& p, const render::PointPrim& pt, double x, double y) {
    static const QPen temporary(kTemporary, 1.2), real(kReal, 1), marker(kMarker, 1.3);
    static const QBrush realFill(kReal);
    switch (pt.state) {
        case render::PointState::Temporary:
            p.setPen(temporary);
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(x - 2.5, y - 2.5, 5, 5));
            break;
        case render::PointState::Real:
            p.setPen(real);
            p.setBrush(realFill);
            p.drawEllipse(QPointF(x, y), 2.2, 2.2);
            break;
        case render::PointState::Marker:
            p.save();
            p.translate(x, y);
            p.setPen(marker);
            p.setBrush(Qt::NoBrush);
            p.rotate(-pt.angle * 180 / std::numbers::pi);
            DrawGlyph(p, pt.glyph);
            p.restore();
            break;
    }
}

}  // namespace

TPreview::TPreview(QWidget* parent) : QWidget(parent) {
    pool_.setMaxThreadCount(1);
    drawPool_.setMaxThreadCount(1);
    setMinimumSize(120, 90);
    setMouseTracking(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TPreview::~TPreview() {
    // A read or picture in progress finishes before the preview is gone;
    // what it posts back is dropped with the preview.
    pool_.clear();
    drawPool_.clear();
    pool_.waitForDone();
    drawPool_.waitForDone();
}

void TPreview::ShowFile(const QString& path, bool after, const TConvertOptions& options) {
    const int generation = ++generation_;
    const bool sameFile = path == path_;
    path_ = path;
    if (path.isEmpty()) {
        loading_ = false;
        content_.reset();
        DropPicture();
        update();
        Q_EMIT Loaded();
        return;
    }
    loading_ = true;
    if (!sameFile) {  // the previous drawing stays while the same one is redrawn
        content_.reset();
        DropPicture();
        update();
    }
    pool_.clear();  // reads queued for earlier selections are not needed
    QPointer<TPreview> self(this);
    pool_.start([self, generation, path, after, options] {
        std::shared_ptr<const PreviewContent> content = gui::LoadPreview(U(path), after, options);
        // The preview waits for this task before it is destroyed, so `self`
        // is alive here; the call runs on its thread, or never.
        QMetaObject::invokeMethod(
            self.data(), [self, generation, content] {
                if (self) self->Take(generation, content);
            },
            Qt::QueuedConnection);
    });
}

void TPreview::Take(int generation, std::shared_ptr<const PreviewContent> content) {
    if (generation != generation_) return;  // a later file was chosen meanwhile
    const bool refit = !content_ || !content_->scene;
    content_ = std::move(content);
    loading_ = false;
    DropPicture();
    if (refit) Fit();
    update();
    Q_EMIT Loaded();
}

const PreviewContent* TPreview::Content() const { return content_.get(); }

const render::Scene* TPreview::Scene() const { return content_ ? content_->scene.get() : nullptr; }

const std::vector<bool>& TPreview::Changed() const {
    static const std::vector<bool> kNone;
    return content_ ? content_->changed : kNone;
}

QString TPreview::Message() const {
    if (path_.isEmpty()) return QString::fromUtf16(gui::kPreviewEmptyText);
    return content_ ? Q(content_->message) : QString();
}
PointCounts TPreview::Counts() const { return content_ ? content_->counts : PointCounts{}; }
PointCounts TPreview::CountsAfter() const { return content_ ? content_->countsAfter : PointCounts{}; }
std::size_t TPreview::ChangedCount() const { return content_ ? content_->changedCount : 0; }

void TPreview::Fit() {
    const render::Scene* s = Scene();
    view_.SetSize(width(), height());
    // The texts whole, and the legend's band below the drawing left free.
    view_.Fit(s ? gui::FitExtentWithTexts(*s) : render::Extent{}, LegendHeight());
    update();
}

void TPreview::ZoomAt(const QPointF& pixel, double factor) {
    // The drawing point under the pixel before and after stays the same.
    view_.SetSize(width(), height());
    view_.ZoomAt(pixel.x(), pixel.y(), factor);
    update();
}

void TPreview::Pan(const QPointF& pixels) {
    view_.Pan(pixels.x(), pixels.y());
    update();
}

void TPreview::resizeEvent(QResizeEvent* event) { QWidget::resizeEvent(event); }

void TPreview::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0) ZoomAt(event->position(), std::pow(1.25, steps));
    event->accept();
}

void TPreview::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    dragging_ = true;
    dragStart_ = event->position().toPoint();
    dragOffset_ = {};
    setCursor(Qt::ClosedHandCursor);
}

void TPreview::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return QWidget::mouseMoveEvent(event);
    dragOffset_ = event->position().toPoint() - dragStart_;
    update();  // the drawn picture moves with the mouse; it is drawn anew on release
}

void TPreview::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    dragging_ = false;
    unsetCursor();
    const QPoint offset = dragOffset_;
    dragOffset_ = {};
    Pan(offset);
}

void TPreview::mouseDoubleClickEvent(QMouseEvent*) { Fit(); }

void TPreview::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    if (!content_ || !content_->scene) {
        p.setPen(QColor(90, 90, 90));
        const QString text = loading_ ? QStringLiteral("読み込み中…") : Message();
        p.drawText(rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap, text);
        return;
    }
    const ViewKey key = CurrentView();
    if (!hasPicture_ || !(pictureKey_ == key)) {
        if (content_->scene->Size() < kDrawnAtOnce) {
            picture_ = DrawPicture(*content_, key);
            pictureKey_ = key;
            hasPicture_ = true;
        } else if (!drawing_ || !(drawingKey_ == key)) {
            DrawInBackground(key);
        }
    }
    if (hasPicture_) {
        if (pictureKey_ == key) {
            p.drawImage(QPointF(dragOffset_), picture_);
        } else {
            // The last picture moved and scaled to the view, until the
            // picture of this view is drawn.
            const ViewKey& o = pictureKey_;
            const double k = key.scale / o.scale;
            p.save();
            p.translate(dragOffset_.x() + key.size.width() / 2.0 + (o.cx - key.cx) * key.scale,
                        dragOffset_.y() + key.size.height() / 2.0 - (o.cy - key.cy) * key.scale);
            p.scale(k, k);
            p.drawImage(QPointF(-o.size.width() / 2.0, -o.size.height() / 2.0), picture_);
            p.restore();
        }
    }
    DrawLegend(p);
    if (loading_ || drawing_) {
        p.setPen(QColor(90, 90, 90));
        p.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignTop | Qt::AlignRight,
                   loading_ ? QStringLiteral("読み込み中…") : QStringLiteral("描画中…"));
    }
}

TPreview::ViewKey TPreview::CurrentView() const {
    return {view_.Scale(), view_.CentreX(), view_.CentreY(), size(), devicePixelRatioF()};
}

void TPreview::DropPicture() {
    hasPicture_ = false;
    drawing_ = false;
    ++drawGeneration_;  // a picture still being drawn is not wanted
    picture_ = QImage();
}

void TPreview::DrawInBackground(const ViewKey& key) {
    drawing_ = true;
    drawingKey_ = key;
    const int generation = ++drawGeneration_;
    drawPool_.clear();
    QPointer<TPreview> self(this);
    std::shared_ptr<const PreviewContent> content = content_;
    drawPool_.start([self, generation, key, content] {
        QImage picture = DrawPicture(*content, key);
        QMetaObject::invokeMethod(
            self.data(), [self, generation, key, picture] {
                if (!self || generation != self->drawGeneration_) return;
                self->picture_ = picture;
                self->pictureKey_ = key;
                self->hasPicture_ = true;
                self->drawing_ = false;
                self->update();
                Q_EMIT self->Drawn();
            },
            Qt::QueuedConnection);
    });
}

QImage TPreview::DrawPicture(const PreviewContent& content, const ViewKey& key) {
    QImage picture(key.size * key.dpr, QImage::Format_RGB32);
    picture.setDevicePixelRatio(key.dpr);
    picture.fill(Qt::white);
    QPainter p(&picture);
    DrawScene(p, content, key);
    return picture;
}

void TPreview::DrawScene(QPainter& p, const PreviewContent& content, const ViewKey& key) {
    const render::Scene& s = *content.scene;
    const double w = key.size.width(), h = key.size.height();
    gui::PreviewView view;
    view.SetSize(w, h);
    view.Set(key.scale, key.cx, key.cy);
    const double scale = view.Scale();
    auto X = [&](double x) { return view.X(x); };
    auto Y = [&](double y) { return view.Y(y); };
    // The drawing's part in view, a little larger, to leave out what is not.
    auto outside = [&](double x0, double y0, double x1, double y1) { return view.Outside(x0, y0, x1, y1); };
    if (s.Size() < 200'000) p.setRenderHint(QPainter::Antialiasing);
    auto penOf = [&](const render::Pen& pen) {
        QPen q(QColor::fromRgb(pen.rgb), 0);  // cosmetic: one pixel whatever the zoom
        if (const render::Dash* dash = s.DashOf(pen.style)) q.setDashPattern(QList<qreal>(dash->begin(), dash->end()));
        return q;
    };

    p.setPen(Qt::NoPen);
    std::uint32_t fill = ~0u;
    for (const render::SolidPrim& sp : s.solids) {
        QPointF corners[4];
        for (int i = 0; i < 4; ++i) corners[i] = QPointF(X(sp.x[i]), Y(sp.y[i]));
        if (outside(std::min({sp.x[0], sp.x[1], sp.x[2], sp.x[3]}), std::min({sp.y[0], sp.y[1], sp.y[2], sp.y[3]}),
                    std::max({sp.x[0], sp.x[1], sp.x[2], sp.x[3]}), std::max({sp.y[0], sp.y[1], sp.y[2], sp.y[3]})))
            continue;
        if (sp.pen.rgb != fill) {
            fill = sp.pen.rgb;
            p.setBrush(QColor::fromRgb(fill));
        }
        p.drawPolygon(corners, 4);
    }
    p.setBrush(Qt::NoBrush);
    // Lines go to the painter in runs of one pen, each arc as one polyline
    // whose points follow by rotation.
    std::vector<QLineF> run;
    std::uint64_t runPen = ~std::uint64_t{0};
    auto keyOf = [](const render::Pen& pen) { return std::uint64_t{pen.rgb} << 8 | pen.style; };
    auto flush = [&] {
        if (!run.empty()) p.drawLines(run.data(), static_cast<int>(run.size()));
        run.clear();
    };
    auto usePen = [&](const render::Pen& pen) {
        const std::uint64_t key = keyOf(pen);
        if (key == runPen) return;
        flush();
        runPen = key;
        p.setPen(penOf(pen));
    };
    for (const render::LinePrim& l : s.lines) {
        if (outside(l.x1, l.y1, l.x2, l.y2)) continue;
        QLineF line(X(l.x1), Y(l.y1), X(l.x2), Y(l.y2));
        if (!ClipLine(line, -8, -8, w + 8, h + 8)) continue;
        usePen(l.pen);
        run.push_back(line);
    }
    flush();
    QPolygonF poly;
    for (const render::ArcPrim& a : s.arcs) {
        const double r = std::max(std::hypot(a.ux, a.uy), std::hypot(a.vx, a.vy));
        if (!std::isfinite(r) || outside(a.cx - r, a.cy - r, a.cx + r, a.cy + r)) continue;
        const double len = std::fabs(a.sweep) * r * scale;
        const int n = len / 3 < 720 ? std::max(8, static_cast<int>(len / 3)) : 720;  // NaN gives 720
        poly.clear();
        poly.reserve(n + 1);
        const double step = a.sweep / n, cs = std::cos(step), sn = std::sin(step);
        double c = std::cos(a.start), si = std::sin(a.start);
        for (int i = 0; i <= n; ++i) {
            poly << QPointF(X(a.cx + a.ux * c + a.vx * si), Y(a.cy + a.uy * c + a.vy * si));
            const double next = c * cs - si * sn;
            si = si * cs + c * sn;
            c = next;
        }
        usePen(a.pen);
        p.drawPolyline(poly);
    }
    for (const render::TextPrim& t : s.texts) {
        const double px = t.sizeY * scale;
        if (!(px >= 4) || px > 4000 || !t.text || t.text->empty() || outside(t.x, t.y, t.x, t.y)) continue;
        QFont font(t.font ? Q(*t.font) : QString());
        font.setPixelSize(std::max(1, static_cast<int>(std::lround(px))));
        p.save();
        p.setFont(font);
        p.setPen(QColor::fromRgb(t.pen.rgb));
        p.translate(X(t.x), Y(t.y));
        p.rotate(-t.angle);
        p.drawText(QPointF(0, 0), Q(*t.text));
        p.restore();
    }
    const std::vector<bool>& changed = content.changed;
    for (std::size_t i = 0; i < s.points.size(); ++i) {
        const render::PointPrim& pt = s.points[i];
        if (outside(pt.x, pt.y, pt.x, pt.y)) continue;
        if (i < changed.size() && changed[i]) {
            p.setPen(QPen(QColor(0xff, 0, 0), 1));
            p.setBrush(QColor(0xff, 0xe0, 0x00, 190));
            p.drawEllipse(QPointF(X(pt.x), Y(pt.y)), 7, 7);
        }
        DrawPoint(p, pt, X(pt.x), Y(pt.y));
    }
}

namespace {

struct LegendEntry {
    QString text;
    int kind;  // 0..2 a point state, 3 a changed point
};

// The entries of the legend, laid out in rows that fit `width`: the x of
// each entry and its row.
struct LegendLayout {
    std::vector<LegendEntry> entries;
    std::vector<std::pair<double, int>> at;
    int rows = 1;
};

LegendLayout LayOutLegend(const QFontMetrics& fm, double width, bool withChanged) {
    LegendLayout l;
    l.entries = {{QStringLiteral("仮点"), 0}, {QStringLiteral("実点"), 1}, {QStringLiteral("点マーカー"), 2}};
    if (withChanged) l.entries.push_back({QStringLiteral("変換で変わる点"), 3});
    double x = 10;
    int row = 0;
    for (const LegendEntry& e : l.entries) {
        const double w = 14 + fm.horizontalAdvance(e.text) + 16;
        if (x > 10 && x + w - 12 > width) {
            x = 10;
            ++row;
        }
        l.at.emplace_back(x, row);
        x += w;
    }
    l.rows = row + 1;
    return l;
}

}  // namespace

double TPreview::LegendHeight() const {
    const QFontMetrics fm(font());
    const bool withChanged = content_ && !content_->changed.empty();
    return LayOutLegend(fm, width(), withChanged).rows * (fm.height() + 2) + 6;
}

void TPreview::DrawLegend(QPainter& p) const {
    // Along the bottom edge, where a fitted drawing leaves room; in as many
    // rows as the width needs.
    const QFontMetrics fm(font());
    const LegendLayout l = LayOutLegend(fm, width(), !content_->changed.empty());
    const double h = LegendHeight();
    const double lineH = fm.height() + 2;
    const QRectF band(0, height() - h, width(), h);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(248, 248, 248, 235));
    p.drawRect(band);
    p.setPen(QColor(200, 200, 200));
    p.drawLine(band.topLeft(), band.topRight());
    for (std::size_t i = 0; i < l.entries.size(); ++i) {
        const LegendEntry& e = l.entries[i];
        const double x = l.at[i].first;
        const double y = band.top() + 3 + l.at[i].second * lineH + lineH / 2;
        if (e.kind < 3) {
            render::PointPrim pt{};
            pt.state = static_cast<render::PointState>(e.kind);
            pt.glyph = render::MarkerGlyph::Star;
            DrawPoint(p, pt, x + 4, y);
        } else {
            p.setPen(QPen(QColor(0xff, 0, 0), 1));
            p.setBrush(QColor(0xff, 0xe0, 0x00, 190));
            p.drawEllipse(QPointF(x + 4, y), 6, 6);
        }
        p.setPen(Qt::black);
        p.drawText(QPointF(x + 14, y + fm.ascent() / 2.0 - 1), e.text);
    }
}

// --- The pane ---------------------------------------------------------------

TPreviewPane::TPreviewPane(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(4, 2, 4, 0);
    AfterBox = new QCheckBox(QStringLiteral("変換後"), this);
    AfterBox->setToolTip(QStringLiteral("今の変換設定で変換した後の図面を表示し、変わる点を強調します"));
    FitButton = new QPushButton(QStringLiteral("全体"), this);
    FitButton->setToolTip(QStringLiteral("図面全体を表示します（ダブルクリックでも）"));
    Caption = new QLabel(this);
    Caption->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    Caption->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont bold = Caption->font();
    bold.setBold(true);
    Caption->setFont(bold);
    Info = new QLabel(this);
    Info->setTextFormat(Qt::RichText);
    // The counts before and after wrap rather than being cut off.
    Info->setWordWrap(true);
    Info->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Minimum);
    bar->addWidget(AfterBox);
    bar->addWidget(FitButton);
    bar->addStretch(1);
    Caption->setContentsMargins(6, 2, 4, 0);
    layout->addWidget(Caption);
    layout->addLayout(bar);
    Info->setContentsMargins(6, 0, 4, 0);
    layout->addWidget(Info);
    View = new TPreview(this);
    layout->addWidget(View, 1);

    connect(AfterBox, &QCheckBox::toggled, this, [this](bool) { Refresh(options_); });
    connect(FitButton, &QPushButton::clicked, View, &TPreview::Fit);
    connect(View, &TPreview::Loaded, this, &TPreviewPane::UpdateInfo);
}

void TPreviewPane::ShowFile(const QString& path, const TConvertOptions& options) {
    options_ = options;
    Info->clear();
    Caption->setText(Q(gui::PreviewCaption(U(path))));
    Caption->setToolTip(path);
    View->ShowFile(path, AfterBox->isChecked(), options_);
}

void TPreviewPane::Refresh(const TConvertOptions& options) {
    options_ = options;
    if (!View->Path().isEmpty()) View->ShowFile(View->Path(), AfterBox->isChecked(), options_);
}

void TPreviewPane::UpdateInfo() {
    if (!View->Content()) {
        Info->clear();
        return;
    }
    // Each count whole on a line; the line breaks between counts only.
    QStringList lines;
    for (const QString& line : Q(gui::PreviewCountsText(*View->Content())).split(u'\n')) {
        QStringList items;
        for (const QString& item : line.split(QChar(0x3000))) {
            // A word joiner between the characters: Japanese text may
            // otherwise break between any two of them.
            QString joined;
            for (const QChar c : item) joined += (joined.isEmpty() ? QString() : QString(QChar(0x2060))) + c;
            items << QStringLiteral("<nobr>") + joined.toHtmlEscaped() + QStringLiteral("</nobr>");
        }
        lines << items.join(QStringLiteral("　 "));
    }
    Info->setText(lines.join(QStringLiteral("<br>")));
}

}  // namespace tervalo
