#include "preview_job.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "convert/point_rules.h"
#include "dos/jwc_data.h"
#include "dos/jwk_data.h"
#include "file_rows.h"
#include "front_end.h"
#include "fs/fsutil.h"
#include "model/jws_data.h"
#include "model/jww_data.h"
#include "render/svg.h"
#include "text/encoding.h"
#include "text/func.h"

namespace tervalo::gui {

PreviewContent::~PreviewContent() = default;

namespace {

std::u16string N(std::int32_t v) { return IntToText(v); }

template <class Header>
std::u16string DosText(const std::u16string& kind, const Header& h) {
    return kind + u"\n" + h.jwID + u"\n\n" + h.comment1 + u"\n" + h.comment2 + u"\n\n線 " + N(h.lineCount) +
           u"　円・円弧 " + N(h.arcCount) + u"　文字 " + N(h.mojiCount) + u"　点 " + N(h.tenCount) +
           u"\n\n（DOS 版の図面は表示も変換もできません）";
}

std::u16string WithThousandsText(std::int64_t v) {
    if (v >= 0) return WithThousands(static_cast<std::uint64_t>(v));
    std::u16string text = WithThousands(static_cast<std::uint64_t>(-(v + 1)) + 1);
    text.insert(text.begin(), u'-');
    return text;
}

std::u16string CountsLine(const PointCounts& c) {
    return u"仮点 " + WithThousandsText(c.temporary) + u"　実点 " + WithThousandsText(c.real) + u"　点マーカー " +
           WithThousandsText(c.marker);
}

}  // namespace

std::shared_ptr<const PreviewContent> LoadPreview(const std::u16string& p, bool after, const TConvertOptions& options) {
    auto c = std::make_shared<PreviewContent>();
    c->path = p;
    c->after = after;
    try {
        const std::filesystem::path file = PathOfText(p);
        const std::u16string ext = ExtLower(p);
        if (ext == u".jwc") {
            TJwcData d;
            if (d.FileCheck(file) && d.FileHeaderIn(file)) {
                c->message = DosText(u"JW_CAD 図面ファイル（DOS）", d.Enthd);
                return c;
            }
        } else if (ext == u".jwk") {
            TJwkData d;
            if (d.FileCheck(file) && d.FileHeaderIn(file)) {
                c->message = DosText(u"JW_CAD 図形ファイル（DOS）", d.Enthd);
                return c;
            }
        }
        auto draw = [&](auto& drawing) {
            c->counts = CollectDrawingInfo(drawing).AllPoints();
            render::Scene before = render::Render(drawing);
            if (after) {
                const std::int32_t ver = drawing.Enthd.jwVer;
                if (options.Direction == 0) ConvertPointsToReal(drawing, ver, options);
                else ConvertPointsToTemporary(drawing, ver, options);
                c->scene = std::make_unique<render::Scene>(render::Render(drawing));
                c->changed = render::ChangedPoints(before, *c->scene);
                c->changedCount = static_cast<std::size_t>(std::count(c->changed.begin(), c->changed.end(), true));
                c->countsAfter = CollectDrawingInfo(drawing).AllPoints();
            } else {
                c->scene = std::make_unique<render::Scene>(std::move(before));
            }
        };
        auto jww = std::make_unique<TJwwData>();
        jww->BindImageExp = false;  // images are not drawn: neither copied out nor kept
        jww->BindImageExr = false;
        if (jww->FileCheck(file)) {
            if (!jww->FileIn(file)) {
                c->message = u"図面を読み込めません：" + Utf8ToUtf16(jww->LastError());
                return c;
            }
            draw(*jww);
            c->jww = std::move(jww);
            return c;
        }
        auto jws = std::make_unique<TJwsData>();
        if (jws->FileCheck(file)) {
            if (!jws->FileIn(file)) {
                c->message = u"図形を読み込めません：" + Utf8ToUtf16(jws->LastError());
                return c;
            }
            draw(*jws);
            c->jws = std::move(jws);
            return c;
        }
        c->message = u"Jw_cad の図面・図形ファイルではありません";
    } catch (const std::bad_alloc&) {
        c = std::make_shared<PreviewContent>();
        c->path = p;
        c->message = u"メモリが足りないため表示できません";
    } catch (...) {
        c = std::make_shared<PreviewContent>();
        c->path = p;
        c->message = u"表示できません";
    }
    return c;
}

std::u16string PreviewCountsText(const PreviewContent& content) {
    if (!content.scene) return {};
    std::u16string text = CountsLine(content.counts);
    if (content.after) {
        text += u"\n→ 変換後　" + CountsLine(content.countsAfter);
        text += u"（変わる点 " + WithThousandsText(static_cast<std::int64_t>(content.changedCount)) + u"）";
    }
    return text;
}

render::Extent FitExtentWithTexts(const render::Scene& scene) {
    const render::Extent& fit = scene.fit;
    render::Extent e = fit;
    if (fit.empty) return e;
    for (const render::TextPrim& t : scene.texts) {
        if (!t.text || t.text->empty()) continue;
        if (!(t.x >= fit.minX && t.x <= fit.maxX && t.y >= fit.minY && t.y <= fit.maxY)) continue;
        const double length = static_cast<double>(t.text->size()) * (t.sizeX + t.spacing);
        const double a = t.angle * 3.14159265358979323846 / 180;
        const double c = std::cos(a), s = std::sin(a);
        const double corners[3][2] = {{length, 0}, {0, t.sizeY}, {length, t.sizeY}};
        for (const auto& k : corners) {
            const double x = t.x + k[0] * c - k[1] * s, y = t.y + k[0] * s + k[1] * c;
            if (std::isfinite(x) && std::isfinite(y)) e.Add(x, y);
        }
    }
    return e;
}

std::u16string PreviewCaption(const std::u16string& path) {
    if (path.empty()) return {};
    return ExtractNameOf(path);
}

// --- The loader ------------------------------------------------------------------

PreviewLoader::PreviewLoader(FrontEnd& frontEnd)
    : frontEnd_(frontEnd), alive_(std::make_shared<bool>(true)), thread_([this] { Loop(); }) {}

PreviewLoader::~PreviewLoader() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        pending_.reset();
    }
    wake_.notify_all();
    thread_.join();
    *alive_ = false;
}

void PreviewLoader::Request(const std::u16string& path, bool after, const TConvertOptions& options, Done done) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = std::make_unique<Job>(Job{path, after, options, std::move(done), ++generation_});
    }
    wake_.notify_all();
}

void PreviewLoader::Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.reset();
    ++generation_;
}

void PreviewLoader::Loop() {
    for (;;) {
        std::unique_ptr<Job> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return quit_ || pending_; });
            if (quit_) return;
            job = std::move(pending_);
        }
        std::shared_ptr<const PreviewContent> content = LoadPreview(job->path, job->after, job->options);
        std::weak_ptr<bool> alive = alive_;
        const unsigned generation = job->generation;
        frontEnd_.Post([this, alive, generation, content, done = std::move(job->done)] {
            const std::shared_ptr<bool> a = alive.lock();
            if (!a || !*a) return;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (generation != generation_) return;  // a later file was asked for
            }
            done(content);
        });
    }
}

}  // namespace tervalo::gui
