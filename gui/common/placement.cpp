#include "placement.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "fs/fsutil.h"

namespace tervalo::gui {

namespace {

std::int64_t Overlap(const Rect& a, const Rect& b) {
    const std::int64_t w = std::int64_t{std::min(a.Right(), b.Right())} - std::max(a.left, b.left);
    const std::int64_t h = std::int64_t{std::min(a.Bottom(), b.Bottom())} - std::max(a.top, b.top);
    return w > 0 && h > 0 ? w * h : 0;
}

// Distance between two rectangles (0 when they touch or overlap), squared.
std::int64_t Gap(const Rect& a, const Rect& b) {
    const std::int64_t dx = std::max<std::int64_t>({0, std::int64_t{b.left} - a.Right(), std::int64_t{a.left} - b.Right()});
    const std::int64_t dy = std::max<std::int64_t>({0, std::int64_t{b.top} - a.Bottom(), std::int64_t{a.top} - b.Bottom()});
    return dx * dx + dy * dy;
}

bool Inside(const Rect& w, const Rect& s) {
    return w.left >= s.left && w.top >= s.top && w.Right() <= s.Right() && w.Bottom() <= s.Bottom();
}

}  // namespace

Rect FitOntoScreens(Rect window, const std::vector<Rect>& screens, int minWidth, int minHeight) {
    if (screens.empty()) return window;
    window.width = std::max(window.width, minWidth);
    window.height = std::max(window.height, minHeight);
    for (const Rect& s : screens)
        if (Inside(window, s)) return window;
    const Rect* best = &screens.front();
    std::int64_t bestOverlap = -1, bestGap = std::numeric_limits<std::int64_t>::max();
    for (const Rect& s : screens) {
        const std::int64_t o = Overlap(window, s), g = Gap(window, s);
        if (o > bestOverlap || (o == 0 && bestOverlap == 0 && g < bestGap)) {
            best = &s;
            bestOverlap = o;
            bestGap = g;
        }
    }
    const Rect& s = *best;
    window.width = std::min(window.width, s.width);
    window.height = std::min(window.height, s.height);
    window.left = std::clamp(window.left, s.left, s.Right() - window.width);
    window.top = std::clamp(window.top, s.top, s.Bottom() - window.height);
    return window;
}

std::u16string FirstTreeFolder(const std::u16string& referenceFolder, const std::u16string& home) {
    if (!referenceFolder.empty() && FolderFound(PathOfText(referenceFolder))) return referenceFolder;
    return home;
}

std::vector<std::u16string> TreeTopFolders(const std::u16string& home, const std::u16string& desktop,
                                           const std::u16string& root) {
    std::vector<std::u16string> top;
    for (const std::u16string* f : {&home, &desktop, &root}) {
        if (f->empty() || !FolderFound(PathOfText(*f))) continue;
        if (std::find(top.begin(), top.end(), *f) == top.end()) top.push_back(*f);
    }
    return top;
}

}  // namespace tervalo::gui
