// The preview beside the file list: draws the selected drawing or figure
// with its points told apart (temporary, real, point marker), optionally as
// the conversion with the current settings would write it, the changed
// points highlighted. Files are read and drawn into primitives off the
// window's thread; zoom with the wheel, pan by dragging, double click fits.
#pragma once

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QThreadPool>
#include <QWidget>
#include <memory>
#include <vector>

#include "convert/convert_options.h"
#include "convert/drawing_info.h"
#include "preview_view.h"
#include "render/render.h"

namespace tervalo {

namespace gui {
struct PreviewContent;
}
using gui::PreviewContent;

class TPreview : public QWidget {
    Q_OBJECT

public:
    explicit TPreview(QWidget* parent = nullptr);
    ~TPreview() override;

    // Shows the file at `path` (empty: nothing), drawn after conversion with
    // `options` when `after` is set. Reading goes on in the background; a
    // later call supersedes an earlier one.
    void ShowFile(const QString& path, bool after, const TConvertOptions& options);
    const QString& Path() const { return path_; }
    bool Loading() const { return loading_; }

    // What is shown: the scene (null when none), which of its points the
    // conversion changed, the text shown instead of a drawing, the point
    // counts of the file as read (the drawing's, its dimensions' and its
    // block definitions').
    const render::Scene* Scene() const;
    const PreviewContent* Content() const;
    const std::vector<bool>& Changed() const;
    QString Message() const;
    PointCounts Counts() const;
    PointCounts CountsAfter() const;  // when drawn after conversion
    std::size_t ChangedCount() const;

    // The view: pixels per drawing unit and the drawing point at the centre.
    double ViewScale() const { return view_.Scale(); }
    QPointF ViewCentre() const { return {view_.CentreX(), view_.CentreY()}; }
    void Fit();
    // Zooms by `factor` keeping the drawing point under `pixel` in place.
    void ZoomAt(const QPointF& pixel, double factor);
    // Moves the drawing by `pixels`.
    void Pan(const QPointF& pixels);

    // Whether a picture of a large drawing is being drawn in the background.
    bool Drawing() const { return drawing_; }

Q_SIGNALS:
    // A file given to ShowFile has been read and is shown.
    void Loaded();
    // A picture drawn in the background is shown.
    void Drawn();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // The view a picture is drawn for.
    struct ViewKey {
        double scale, cx, cy;
        QSize size;
        qreal dpr;
        bool operator==(const ViewKey&) const = default;
    };
    ViewKey CurrentView() const;
    void Take(int generation, std::shared_ptr<const PreviewContent> content);
    void DropPicture();
    void DrawInBackground(const ViewKey& key);
    static QImage DrawPicture(const PreviewContent& content, const ViewKey& key);
    static void DrawScene(QPainter& p, const PreviewContent& content, const ViewKey& key);
    void DrawLegend(QPainter& p) const;
    double LegendHeight() const;

    QThreadPool pool_;
    int generation_ = 0;
    bool loading_ = false;
    QString path_;
    std::shared_ptr<const PreviewContent> content_;
    gui::PreviewView view_;  // scale and centre of the drawing in the pane
    QThreadPool drawPool_;
    QImage picture_;  // the drawing as last drawn, for pictureKey_
    ViewKey pictureKey_{};
    bool hasPicture_ = false;
    bool drawing_ = false;  // a picture for drawingKey_ is on its way
    ViewKey drawingKey_{};
    int drawGeneration_ = 0;
    bool dragging_ = false;
    QPoint dragStart_, dragOffset_;
};

// The preview with its bar: the after-conversion toggle, the fit button and
// the point counts of the file shown.
class TPreviewPane : public QWidget {
    Q_OBJECT

public:
    explicit TPreviewPane(QWidget* parent = nullptr);

    QLabel* Caption;      // the name of the file shown
    QCheckBox* AfterBox;  // "変換後"
    QPushButton* FitButton;
    QLabel* Info;
    TPreview* View;

    // Shows `path` with the toggle's state and the given settings.
    void ShowFile(const QString& path, const TConvertOptions& options);
    // Draws the file shown again, with new settings.
    void Refresh(const TConvertOptions& options);

private:
    void UpdateInfo();
    TConvertOptions options_;
};

}  // namespace tervalo
