// The preview beside the file list, drawn with GDI: the name of the file
// shown above it (the canvas's window text is the text shown instead of a
// drawing: what to do while empty, "loading", or why a file cannot be
// drawn; empty while a drawing is shown), then the shared preview's
// primitives of the current file (lines in their line types, arcs, solids,
// texts as text in their size, angle and font, points told apart), zoom with
// the wheel around the mouse, pan by dragging, fit by a double click or the
// 全体 button, and the 変換後 toggle that draws the file as the conversion
// with the current settings would write it, the changed points ringed.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "convert/convert_options.h"
#include "preview_job.h"
#include "preview_view.h"

namespace tervalo::win {

class PreviewPane {
public:
    explicit PreviewPane(gui::FrontEnd& frontEnd);
    ~PreviewPane();

    bool Create(HWND parent, HFONT font);
    void Move(int x, int y, int w, int h, int dpi);
    void SetFont(HFONT font);

    // Shows the file (empty: nothing) with the toggle's state and the settings.
    void ShowFile(const std::u16string& path, const TConvertOptions& options);
    // Draws the file shown again with new settings (when the toggle is on).
    void Refresh(const TConvertOptions& options);

    // For the main window's command handling: true when the command was the pane's.
    bool OnCommand(WPARAM wParam, LPARAM lParam);

    HWND Caption() const { return caption_; }
    HWND Info() const { return info_; }
    HWND AfterBox() const { return after_; }
    HWND FitButton() const { return fit_; }
    HWND Canvas() const { return canvas_; }
    const gui::PreviewContent* Content() const { return content_.get(); }
    bool Loading() const { return loading_; }
    const gui::PreviewView& View() const { return view_; }
    std::u16string InfoText() const;

private:
    static LRESULT CALLBACK CanvasProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnCanvas(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void Paint(HDC dc, const RECT& rc);
    void DrawScene(HDC dc);
    void DrawLegend(HDC dc);
    void Request();
    void Fit();
    void UpdateInfo();
    std::u16string Message() const;

    gui::FrontEnd& frontEnd_;
    gui::PreviewLoader loader_;
    HWND caption_ = nullptr, after_ = nullptr, fit_ = nullptr, info_ = nullptr, canvas_ = nullptr;
    HFONT font_ = nullptr;
    HFONT bold_ = nullptr;  // the caption's, made from font_
    int dpi_ = 96;
    std::u16string path_;
    TConvertOptions options_;
    std::shared_ptr<const gui::PreviewContent> content_;
    bool loading_ = false;
    gui::PreviewView view_;
    bool dragging_ = false;
    POINT dragFrom_{};
};

}  // namespace tervalo::win
