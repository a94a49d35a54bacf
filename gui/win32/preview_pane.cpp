#include "preview_pane.h"

#include <windowsx.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <vector>

#include "win_text.h"

namespace tervalo::win {

namespace {

constexpr int kAfterId = 3001;
constexpr int kFitId = 3002;
constexpr wchar_t kCanvasClass[] = L"TervaloPreviewCanvas";

constexpr COLORREF kTemporary = RGB(0xe0, 0x70, 0x00), kReal = RGB(0x00, 0x40, 0xff), kMarker = RGB(0xc0, 0x00, 0x7a);

COLORREF Colour(std::uint32_t rgb) { return RGB((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff); }

// Pixel coordinates for GDI, which takes 32-bit integers.
int Px(double v) { return static_cast<int>(std::lround(std::clamp(v, -1e8, 1e8))); }

// Pens made during one paint, by colour and line type.
class PenCache {
public:
    explicit PenCache(const render::Scene& s) : scene_(s) {}
    ~PenCache() {
        for (auto& [key, pen] : pens_) DeleteObject(pen);
    }
    HPEN Of(const render::Pen& pen) {
        const std::uint64_t key = std::uint64_t{pen.rgb} << 8 | pen.style;
        auto found = pens_.find(key);
        if (found != pens_.end()) return found->second;
        LOGBRUSH lb{BS_SOLID, Colour(pen.rgb), 0};
        HPEN h = nullptr;
        if (const render::Dash* dash = scene_.DashOf(pen.style)) {
            std::vector<DWORD> style;
            for (float d : *dash) style.push_back(static_cast<DWORD>(std::max(1.0f, std::round(d))));
            if (style.size() % 2) style.push_back(style.back());
            if (style.size() > 16) style.resize(16);
            h = ExtCreatePen(PS_COSMETIC | PS_USERSTYLE, 1, &lb, static_cast<DWORD>(style.size()), style.data());
        }
        if (!h) h = CreatePen(PS_SOLID, 1, Colour(pen.rgb));
        pens_.emplace(key, h);
        return h;
    }

private:
    const render::Scene& scene_;
    std::map<std::uint64_t, HPEN> pens_;
};

void DrawGlyph(HDC dc, render::MarkerGlyph g, double x, double y, double angle) {
    using render::MarkerGlyph;
    const double c = std::cos(angle), s = std::sin(angle);
    auto P = [&](double gx, double gy) { return POINT{Px(x + gx * c + gy * s), Px(y - gx * s + gy * c)}; };
    auto line = [&](double x0, double y0, double x1, double y1) {
        const POINT a = P(x0, y0), b = P(x1, y1);
        MoveToEx(dc, a.x, a.y, nullptr);
        LineTo(dc, b.x, b.y);
    };
    auto poly = [&](std::initializer_list<std::pair<double, double>> pts) {
        std::vector<POINT> v;
        for (auto [px, py] : pts) v.push_back(P(px, py));
        v.push_back(v.front());
        Polyline(dc, v.data(), static_cast<int>(v.size()));
    };
    switch (g) {
        case MarkerGlyph::Star:
            line(-5, 0, 5, 0);
            line(0, -5, 0, 5);
            line(-3.5, -3.5, 3.5, 3.5);
            line(-3.5, 3.5, 3.5, -3.5);
            break;
        case MarkerGlyph::Circle: Arc(dc, Px(x - 4.5), Px(y - 4.5), Px(x + 4.5), Px(y + 4.5), 0, 0, 0, 0); break;
        case MarkerGlyph::Dot: {
            HBRUSH b = CreateSolidBrush(kMarker);
            HGDIOBJ old = SelectObject(dc, b);
            Ellipse(dc, Px(x - 2), Px(y - 2), Px(x + 2) + 1, Px(y + 2) + 1);
            SelectObject(dc, old);
            DeleteObject(b);
            break;
        }
        case MarkerGlyph::Plus:
            line(-5, 0, 5, 0);
            line(0, -5, 0, 5);
            break;
        case MarkerGlyph::Square: poly({{-4, -4}, {4, -4}, {4, 4}, {-4, 4}}); break;
        case MarkerGlyph::Triangle: poly({{0, -5}, {4.5, 3.5}, {-4.5, 3.5}}); break;
        case MarkerGlyph::Cross:
            line(-4, -4, 4, 4);
            line(-4, 4, 4, -4);
            break;
        default: poly({{0, -5}, {5, 0}, {0, 5}, {-5, 0}}); break;
    }
}

// One point's symbol at pixel (x, y): temporary points orange squares, real
// points blue dots, point markers their magenta glyph.
void DrawPoint(HDC dc, const render::PointPrim& pt, double x, double y, HPEN temporary, HPEN real, HPEN marker,
               HBRUSH realFill) {
    switch (pt.state) {
        case render::PointState::Temporary: {
            SelectObject(dc, temporary);
            SelectObject(dc, GetStockObject(NULL_BRUSH));
            Rectangle(dc, Px(x - 2.5), Px(y - 2.5), Px(x + 2.5) + 1, Px(y + 2.5) + 1);
            break;
        }
        case render::PointState::Real:
            SelectObject(dc, real);
            SelectObject(dc, realFill);
            Ellipse(dc, Px(x - 2.2), Px(y - 2.2), Px(x + 2.2) + 1, Px(y + 2.2) + 1);
            break;
        case render::PointState::Marker:
            SelectObject(dc, marker);
            SelectObject(dc, GetStockObject(NULL_BRUSH));
            DrawGlyph(dc, pt.glyph, x, y, pt.angle);
            break;
    }
}

}  // namespace

PreviewPane::PreviewPane(gui::FrontEnd& frontEnd) : frontEnd_(frontEnd), loader_(frontEnd) {}

PreviewPane::~PreviewPane() {
    loader_.Cancel();
    if (bold_) DeleteObject(bold_);
}

bool PreviewPane::Create(HWND parent, HFONT font) {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    if (!GetClassInfoExW(inst, kCanvasClass, &wc)) {
        wc = {};
        wc.cbSize = sizeof wc;
        wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = CanvasProc;
        wc.hInstance = inst;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kCanvasClass;
        RegisterClassExW(&wc);
    }
    caption_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, 0, 0, 0, 0,
                               parent, nullptr, inst, nullptr);
    after_ = CreateWindowExW(0, L"BUTTON", L"変換後", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, 0, 0, 0,
                             parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kAfterId)), inst, nullptr);
    fit_ = CreateWindowExW(0, L"BUTTON", L"全体", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFitId)), inst, nullptr);
    info_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0, parent, nullptr,
                            inst, nullptr);
    canvas_ = CreateWindowExW(WS_EX_CLIENTEDGE, kCanvasClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent, nullptr,
                              inst, this);
    SetFont(font);
    UpdateInfo();
    return caption_ && after_ && fit_ && info_ && canvas_;
}

void PreviewPane::SetFont(HFONT font) {
    font_ = font;
    for (HWND h : {after_, fit_, info_}) SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    // The file's name in bold, as a heading of the pane.
    LOGFONTW lf{};
    if (GetObjectW(font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf)) {
        lf.lfWeight = FW_BOLD;
        HFONT bold = CreateFontIndirectW(&lf);
        SendMessageW(caption_, WM_SETFONT, reinterpret_cast<WPARAM>(bold), TRUE);
        if (bold_) DeleteObject(bold_);
        bold_ = bold;
    }
}

void PreviewPane::Move(int x, int y, int w, int h, int dpi) {
    dpi_ = dpi;
    auto S = [dpi](int v) { return MulDiv(v, dpi, 96); };
    const int name = S(20), bar = S(34);
    MoveWindow(caption_, x + S(4), y + S(2), std::max(0, w - S(8)), name - S(2), TRUE);
    y += name;
    h -= name;
    MoveWindow(after_, x, y + S(2), S(72), S(22), TRUE);
    MoveWindow(fit_, x + S(76), y + S(1), S(52), S(24), TRUE);
    // Two lines of counts (before and after conversion) beside the buttons.
    MoveWindow(info_, x + S(134), y, std::max(0, w - S(134)), bar, TRUE);
    MoveWindow(canvas_, x, y + bar + S(2), std::max(0, w), std::max(0, h - bar - S(2)), TRUE);
    RECT rc;
    GetClientRect(canvas_, &rc);
    view_.SetSize(rc.right, rc.bottom);
}

void PreviewPane::ShowFile(const std::u16string& path, const TConvertOptions& options) {
    path_ = path;
    SetText(caption_, gui::PreviewCaption(path));
    options_ = options;
    Request();
}

void PreviewPane::Refresh(const TConvertOptions& options) {
    options_ = options;
    if (SendMessageW(after_, BM_GETCHECK, 0, 0) == BST_CHECKED && !path_.empty()) Request();
}

void PreviewPane::Request() {
    if (path_.empty()) {
        loader_.Cancel();
        content_.reset();
        loading_ = false;
        UpdateInfo();
        InvalidateRect(canvas_, nullptr, FALSE);
        return;
    }
    loading_ = true;
    const bool after = SendMessageW(after_, BM_GETCHECK, 0, 0) == BST_CHECKED;
    // The same file drawn again (the toggle, new settings) keeps its view.
    const bool refit = !content_ || content_->path != path_;
    loader_.Request(path_, after, options_, [this, refit](std::shared_ptr<const gui::PreviewContent> c) {
        loading_ = false;
        content_ = std::move(c);
        if (refit) Fit();
        UpdateInfo();
        InvalidateRect(canvas_, nullptr, FALSE);
    });
    UpdateInfo();
    InvalidateRect(canvas_, nullptr, FALSE);
}

void PreviewPane::Fit() {
    RECT rc;
    GetClientRect(canvas_, &rc);
    view_.SetSize(rc.right, rc.bottom);
    // The drawing with its texts whole, as every front end fits it.
    view_.Fit(content_ && content_->scene ? gui::FitExtentWithTexts(*content_->scene) : render::Extent{});
}

std::u16string PreviewPane::InfoText() const {
    if (!content_ || !content_->scene) return {};
    return gui::PreviewCountsText(*content_);
}

std::u16string PreviewPane::Message() const {
    if (content_ && content_->scene) return {};
    return loading_ ? std::u16string(gui::kPreviewLoadingText)
           : content_ ? content_->message
                      : std::u16string(gui::kPreviewEmptyText);
}

void PreviewPane::UpdateInfo() {
    SetText(info_, InfoText());
    SetText(canvas_, Message());
}

bool PreviewPane::OnCommand(WPARAM wParam, LPARAM lParam) {
    const HWND from = reinterpret_cast<HWND>(lParam);
    if (from == after_ && HIWORD(wParam) == BN_CLICKED) {
        // Drawn with the options as they are now.
        options_ = ConvertOptions;
        if (!path_.empty()) Request();
        return true;
    }
    if (from == fit_ && HIWORD(wParam) == BN_CLICKED) {
        Fit();
        InvalidateRect(canvas_, nullptr, FALSE);
        return true;
    }
    return false;
}

LRESULT CALLBACK PreviewPane::CanvasProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<PreviewPane*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return self ? self->OnCanvas(hwnd, msg, wParam, lParam) : DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT PreviewPane::OnCanvas(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_ERASEBKGND: return 1;
        case WM_SIZE: {
            const double oldW = view_.Width(), oldH = view_.Height();
            view_.SetSize(LOWORD(lParam), HIWORD(lParam));
            if (oldW <= 1 || oldH <= 1) Fit();
            InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        }
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            RECT rc;
            GetClientRect(hwnd, &rc);
            // Drawn off screen first, so the picture never flickers.
            HDC mem = CreateCompatibleDC(dc);
            HBITMAP bmp = CreateCompatibleBitmap(dc, std::max(1L, rc.right), std::max(1L, rc.bottom));
            HGDIOBJ old = SelectObject(mem, bmp);
            Paint(mem, rc);
            BitBlt(dc, 0, 0, rc.right, rc.bottom, mem, 0, 0, SRCCOPY);
            SelectObject(mem, old);
            DeleteObject(bmp);
            DeleteDC(mem);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_MOUSEWHEEL: {
            POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            ScreenToClient(hwnd, &p);
            view_.Wheel(p.x, p.y, GET_WHEEL_DELTA_WPARAM(wParam));
            InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        }
        case WM_LBUTTONDOWN:
            SetFocus(hwnd);
            dragging_ = true;
            dragFrom_ = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            SetCapture(hwnd);
            return 0;
        case WM_MOUSEMOVE:
            if (dragging_) {
                const POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
                view_.Pan(p.x - dragFrom_.x, p.y - dragFrom_.y);
                dragFrom_ = p;
                InvalidateRect(hwnd, nullptr, FALSE);
            }
            return 0;
        case WM_LBUTTONUP:
        case WM_CAPTURECHANGED:
            dragging_ = false;
            if (msg == WM_LBUTTONUP) ReleaseCapture();
            return 0;
        case WM_LBUTTONDBLCLK:
            Fit();
            InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        default: return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

void PreviewPane::Paint(HDC dc, const RECT& rc) {
    FillRect(dc, &rc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = SelectObject(dc, font_);
    if (content_ && content_->scene) {
        DrawScene(dc);
        DrawLegend(dc);
    } else {
        const std::u16string text = Message();
        RECT box = rc;
        InflateRect(&box, -MulDiv(12, dpi_, 96), -MulDiv(12, dpi_, 96));
        SetTextColor(dc, RGB(96, 96, 96));
        const std::wstring w = W(text);
        DrawTextW(dc, w.c_str(), static_cast<int>(w.size()), &box, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
    }
    SelectObject(dc, oldFont);
}

void PreviewPane::DrawScene(HDC dc) {
    const render::Scene& s = *content_->scene;
    const gui::PreviewView& v = view_;
    const double w = v.Width(), h = v.Height();
    PenCache pens(s);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));

    SelectObject(dc, GetStockObject(NULL_PEN));
    for (const render::SolidPrim& sp : s.solids) {
        if (v.Outside(std::min({sp.x[0], sp.x[1], sp.x[2], sp.x[3]}), std::min({sp.y[0], sp.y[1], sp.y[2], sp.y[3]}),
                      std::max({sp.x[0], sp.x[1], sp.x[2], sp.x[3]}), std::max({sp.y[0], sp.y[1], sp.y[2], sp.y[3]})))
            continue;
        POINT corners[4];
        for (int i = 0; i < 4; ++i) corners[i] = {Px(v.X(sp.x[i])), Px(v.Y(sp.y[i]))};
        HBRUSH b = CreateSolidBrush(Colour(sp.pen.rgb));
        SelectObject(dc, b);
        Polygon(dc, corners, 4);
        SelectObject(dc, GetStockObject(NULL_BRUSH));
        DeleteObject(b);
    }
    HPEN current = nullptr;
    auto segment = [&](HPEN pen, double ax, double ay, double bx, double by) {
        if (!gui::ClipSegment(ax, ay, bx, by, -8, -8, w + 8, h + 8)) return;
        if (pen != current) SelectObject(dc, current = pen);
        MoveToEx(dc, Px(ax), Px(ay), nullptr);
        LineTo(dc, Px(bx), Px(by));
    };
    for (const render::LinePrim& l : s.lines) {
        if (v.Outside(l.x1, l.y1, l.x2, l.y2)) continue;
        segment(pens.Of(l.pen), v.X(l.x1), v.Y(l.y1), v.X(l.x2), v.Y(l.y2));
    }
    for (const render::ArcPrim& a : s.arcs) {
        const double r = std::max(std::hypot(a.ux, a.uy), std::hypot(a.vx, a.vy));
        if (!std::isfinite(r) || v.Outside(a.cx - r, a.cy - r, a.cx + r, a.cy + r)) continue;
        const double len = std::fabs(a.sweep) * r * v.Scale();
        const int n = len / 3 < 720 ? std::max(8, static_cast<int>(len / 3)) : 720;
        const double step = a.sweep / n, cs = std::cos(step), sn = std::sin(step);
        double c = std::cos(a.start), si = std::sin(a.start);
        const HPEN pen = pens.Of(a.pen);
        double px = v.X(a.cx + a.ux * c + a.vx * si), py = v.Y(a.cy + a.uy * c + a.vy * si);
        for (int i = 1; i <= n; ++i) {
            const double next = c * cs - si * sn;
            si = si * cs + c * sn;
            c = next;
            const double qx = v.X(a.cx + a.ux * c + a.vx * si), qy = v.Y(a.cy + a.uy * c + a.vy * si);
            segment(pen, px, py, qx, qy);
            px = qx;
            py = qy;
        }
    }
    // Texts in their font, size and angle; those too small to read, or far
    // too large, are left out.
    for (const render::TextPrim& t : s.texts) {
        const double px = t.sizeY * v.Scale();
        if (!(px >= 4) || px > 4000 || !t.text || t.text->empty() || v.Outside(t.x, t.y, t.x, t.y)) continue;
        LOGFONTW lf{};
        lf.lfHeight = -std::max(1, static_cast<int>(std::lround(px)));
        lf.lfEscapement = lf.lfOrientation = static_cast<LONG>(std::lround(std::fmod(t.angle, 360.0) * 10));
        // Japanese texts: where the drawing's font is not installed, the
        // system takes a font that has their characters.
        lf.lfCharSet = SHIFTJIS_CHARSET;
        lf.lfQuality = ANTIALIASED_QUALITY;
        if (t.font) {
            const std::wstring face = W(*t.font).substr(0, LF_FACESIZE - 1);
            wcsncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
        }
        HFONT f = CreateFontIndirectW(&lf);
        HGDIOBJ old = SelectObject(dc, f);
        SetTextColor(dc, Colour(t.pen.rgb));
        SetTextAlign(dc, TA_BASELINE | TA_LEFT);
        const std::wstring text = W(*t.text);
        TextOutW(dc, Px(v.X(t.x)), Px(v.Y(t.y)), text.c_str(), static_cast<int>(text.size()));
        SelectObject(dc, old);
        DeleteObject(f);
    }
    SetTextAlign(dc, TA_TOP | TA_LEFT);
    HPEN temporary = CreatePen(PS_SOLID, 1, kTemporary), real = CreatePen(PS_SOLID, 1, kReal),
         marker = CreatePen(PS_SOLID, 1, kMarker), ring = CreatePen(PS_SOLID, 1, RGB(0xff, 0, 0));
    HBRUSH realFill = CreateSolidBrush(kReal), ringFill = CreateSolidBrush(RGB(0xff, 0xe0, 0x00));
    const std::vector<bool>& changed = content_->changed;
    for (std::size_t i = 0; i < s.points.size(); ++i) {
        const render::PointPrim& pt = s.points[i];
        if (v.Outside(pt.x, pt.y, pt.x, pt.y)) continue;
        const double x = v.X(pt.x), y = v.Y(pt.y);
        if (i < changed.size() && changed[i]) {
            SelectObject(dc, ring);
            SelectObject(dc, ringFill);
            Ellipse(dc, Px(x - 7), Px(y - 7), Px(x + 7) + 1, Px(y + 7) + 1);
        }
        DrawPoint(dc, pt, x, y, temporary, real, marker, realFill);
    }
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    for (HGDIOBJ o : {static_cast<HGDIOBJ>(temporary), static_cast<HGDIOBJ>(real), static_cast<HGDIOBJ>(marker),
                      static_cast<HGDIOBJ>(ring), static_cast<HGDIOBJ>(realFill), static_cast<HGDIOBJ>(ringFill)})
        DeleteObject(o);
}

void PreviewPane::DrawLegend(HDC dc) {
    struct Row {
        const wchar_t* text;
        render::PointState state;
    };
    const Row rows[3] = {{L"仮点", render::PointState::Temporary},
                         {L"実点", render::PointState::Real},
                         {L"点マーカー", render::PointState::Marker}};
    const bool withChanged = !content_->changed.empty();
    const wchar_t* changedText = L"変換で変わる点";
    TEXTMETRICW tm;
    GetTextMetricsW(dc, &tm);
    const int lineH = tm.tmHeight + 2;
    int textW = 0;
    auto widthOf = [&](const wchar_t* t) {
        SIZE sz{};
        GetTextExtentPoint32W(dc, t, static_cast<int>(wcslen(t)), &sz);
        return static_cast<int>(sz.cx);
    };
    for (const Row& r : rows) textW = std::max(textW, widthOf(r.text));
    if (withChanged) textW = std::max(textW, widthOf(changedText));
    const int n = withChanged ? 4 : 3;
    const RECT box{8, 8, 8 + textW + 34, 8 + n * lineH + 8};
    HPEN grey = CreatePen(PS_SOLID, 1, RGB(128, 128, 128));
    HGDIOBJ oldPen = SelectObject(dc, grey);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(WHITE_BRUSH));
    Rectangle(dc, box.left, box.top, box.right, box.bottom);
    HPEN temporary = CreatePen(PS_SOLID, 1, kTemporary), real = CreatePen(PS_SOLID, 1, kReal),
         marker = CreatePen(PS_SOLID, 1, kMarker), ring = CreatePen(PS_SOLID, 1, RGB(0xff, 0, 0));
    HBRUSH realFill = CreateSolidBrush(kReal), ringFill = CreateSolidBrush(RGB(0xff, 0xe0, 0x00));
    SetTextColor(dc, RGB(0, 0, 0));
    for (int i = 0; i < n; ++i) {
        const int y = box.top + 4 + i * lineH + lineH / 2;
        if (i < 3) {
            render::PointPrim pt{};
            pt.state = rows[i].state;
            pt.glyph = render::MarkerGlyph::Star;
            DrawPoint(dc, pt, box.left + 14, y, temporary, real, marker, realFill);
        } else {
            SelectObject(dc, ring);
            SelectObject(dc, ringFill);
            Ellipse(dc, box.left + 8, y - 6, box.left + 21, y + 7);
        }
        const wchar_t* text = i < 3 ? rows[i].text : changedText;
        TextOutW(dc, box.left + 28, y - tm.tmHeight / 2, text, static_cast<int>(wcslen(text)));
    }
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    for (HGDIOBJ o : {static_cast<HGDIOBJ>(grey), static_cast<HGDIOBJ>(temporary), static_cast<HGDIOBJ>(real),
                      static_cast<HGDIOBJ>(marker), static_cast<HGDIOBJ>(ring), static_cast<HGDIOBJ>(realFill),
                      static_cast<HGDIOBJ>(ringFill)})
        DeleteObject(o);
}

}  // namespace tervalo::win
