// The preview's work off the window's thread: a file read, optionally
// converted in memory with the current options, and turned into drawing
// primitives; and the texts the preview shows beside it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "convert/convert_options.h"
#include "convert/drawing_info.h"
#include "render/render.h"

namespace tervalo {
class TJwwData;
class TJwsData;
}

namespace tervalo::gui {

class FrontEnd;

struct PreviewContent {
    ~PreviewContent();
    std::u16string path;
    bool after = false;  // drawn as the conversion would write it
    // The container the scene's texts point into.
    std::unique_ptr<TJwwData> jww;
    std::unique_ptr<TJwsData> jws;
    std::unique_ptr<render::Scene> scene;  // null when not drawn
    std::vector<bool> changed;             // per point of the scene: the conversion changes it
    std::size_t changedCount = 0;
    PointCounts counts;
    PointCounts countsAfter;  // as the conversion would write the file
    std::u16string message;   // shown instead of a drawing
};

// Reads and draws one file (runs on any thread; never throws).
std::shared_ptr<const PreviewContent> LoadPreview(const std::u16string& path, bool after, const TConvertOptions& options);

// The text of an empty preview: what to do to see a drawing.
inline constexpr char16_t kPreviewEmptyText[] = u"一覧でファイルを選ぶと、ここに図面が表示されます";
inline constexpr char16_t kPreviewLoadingText[] = u"読み込み中…";
// The point counts line(s) above the preview; the counts after conversion
// go on a line of their own.
std::u16string PreviewCountsText(const PreviewContent& content);
// The caption naming the file shown (its name only).
std::u16string PreviewCaption(const std::u16string& path);

// The part of a scene a fitted view shows: the scene's fit extent, widened
// by the whole box of every text that starts inside it (its base line runs
// to the right, its height upward, turned by its angle).
render::Extent FitExtentWithTexts(const render::Scene& scene);

// Loads previews one at a time on a thread of its own. A request supersedes
// every request not yet started; results of superseded requests are not
// delivered. `done` runs on the window's thread through FrontEnd::Post.
class PreviewLoader {
public:
    explicit PreviewLoader(FrontEnd& frontEnd);
    ~PreviewLoader();  // waits for the file being read
    PreviewLoader(const PreviewLoader&) = delete;
    PreviewLoader& operator=(const PreviewLoader&) = delete;

    using Done = std::function<void(std::shared_ptr<const PreviewContent>)>;
    void Request(const std::u16string& path, bool after, const TConvertOptions& options, Done done);
    // Drops the request waiting and the delivery of the one being read.
    void Cancel();

private:
    void Loop();
    struct Job {
        std::u16string path;
        bool after;
        TConvertOptions options;
        Done done;
        unsigned generation;
    };
    FrontEnd& frontEnd_;
    std::shared_ptr<bool> alive_;  // checked on the window's thread before delivering
    std::mutex mutex_;
    std::condition_variable wake_;
    std::unique_ptr<Job> pending_;
    unsigned generation_ = 0;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace tervalo::gui
