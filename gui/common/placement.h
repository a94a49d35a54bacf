// Where windows go: a restored window kept on a screen, and where the
// folder tree starts.
#pragma once

#include <string>
#include <vector>

namespace tervalo::gui {

struct Rect {
    int left = 0, top = 0, width = 0, height = 0;
    int Right() const { return left + width; }
    int Bottom() const { return top + height; }
    bool operator==(const Rect&) const = default;
};

// A window's saved bounds fitted onto the screens (their work areas, in the
// same coordinates): the screen it overlaps most, or, when it overlaps none,
// the nearest one, takes it; a window larger than that screen is shrunk to
// it (never below `minWidth` x `minHeight`, unless the screen is smaller), and
// it is moved just as far as needed to lie wholly on it. A window already
// wholly on a screen stays as it is. No screens: unchanged.
Rect FitOntoScreens(Rect window, const std::vector<Rect>& screens, int minWidth = 200, int minHeight = 150);

// The folder the tree shows selected at start: the saved reference folder
// when it still exists, else the user's home folder.
std::u16string FirstTreeFolder(const std::u16string& referenceFolder, const std::u16string& home);

// The top entries of the folder tree, in this order: the user's home, the
// desktop (only when that folder exists and differs from home) and the root
// of the file system. Entries that do not exist are left out.
std::vector<std::u16string> TreeTopFolders(const std::u16string& home, const std::u16string& desktop,
                                           const std::u16string& root);

}  // namespace tervalo::gui
