#pragma once
// TPictureView: shows one picture inside a rectangle of its parent, at its natural size (optionally
// centred), stretched to the control, or tiled over it.
//
// The control owns a TPicture and listens to its change and progress notifications. The held
// graphic is turned into a QImage once per change of the picture (see BitmapToImage.h) and kept;
// a paint draws only the part of that image the exposed area needs. The control is marked opaque
// (Qt then paints nothing of the parent behind it) only when the picture covers it completely
// with solid pixels.
//
// Zoom mode: the control fills its scroll box and shows the picture through a TViewTransform
// (zoomed, turned, flipped, panned by dragging and by the wheel, Ctrl+wheel zooming around the
// pointer); fit mode refits the picture to the control whenever either changes size. AutoSize,
// Stretch, Center and Tiled do not apply there. Reductions paint from a copy resampled with a
// three-lobe Lanczos filter (see ReducedImage), made once per scale and kept, so fine patterns
// do not alias; enlargements are smoothed up to 200 % and stay sharp above.
//
// Pictures drawn from vectors (metafiles, SVG) are drawn again at the shown scale, zoomed or
// stretched, and only over the part of the control they show (see VectorPicture.h); the drawn
// part, with a margin for panning, is kept until the scale or the shown part changes.
#include <QImage>
#include <QRect>
#include <memory>
#include <vector>

#include "display/ViewTransform.h"
#include "imaging/Bitmap.h"
#include "imaging/Graphic.h"
#include "imaging/Picture.h"
#include "render/VectorPicture.h"
#include "toolkit/Controls.h"

class TPictureView : public TControl<QWidget> {
    Q_OBJECT
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(int Left READ Left WRITE SetLeft)
    Q_PROPERTY(int Top READ Top WRITE SetTop)
    Q_PROPERTY(int Width READ Width WRITE SetWidth)
    Q_PROPERTY(int Height READ Height WRITE SetHeight)
    Q_PROPERTY(Toolkit::TAlign Align READ Align WRITE SetAlign)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
    Q_PROPERTY(bool Stretch READ Stretch WRITE SetStretch)
    Q_PROPERTY(bool Center READ Center WRITE SetCenter)
    Q_PROPERTY(bool Tiled READ Tiled WRITE SetTiled)
    Q_PROPERTY(bool IncrementalDisplay READ IncrementalDisplay WRITE SetIncrementalDisplay)
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)

  public:
    // A new control is 105 x 105 pixels and holds an empty picture.
    explicit TPictureView(const QString& name = QString(), QWidget* parent = nullptr);
    ~TPictureView() override;

    // The owned picture holder; files are loaded through it (Picture()->LoadFromFile(...)).
    TPicture* Picture() const { return picture_.get(); }
    // Copies the given picture's graphic into the owned holder; null (or an empty picture)
    // clears it.
    void SetPicture(const TPicture* value);

    bool AutoSize() const { return autoSize_; }
    // Stores the value and re-runs the picture-change handling even when it is unchanged.
    void SetAutoSize(bool value);
    bool Stretch() const { return stretch_; }
    void SetStretch(bool value);
    bool Center() const { return center_; }
    void SetCenter(bool value);
    bool Tiled() const { return tiled_; }
    void SetTiled(bool value);
    bool IncrementalDisplay() const { return incrementalDisplay_; }
    void SetIncrementalDisplay(bool value) { incrementalDisplay_ = value; }
    // Passed on to the graphic; a transparent bitmap keys out its transparent colour.
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool value);

    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool value) { setEnabled(value); }
    // Also tells a scroll box holding the control to recompute its range.
    void SetAlign(TAlign value);

    // The destination of an untiled paint: the client rectangle when stretched; else the
    // picture's size, at (0, 0) or centred (a picture larger than the control gets a negative
    // offset, the halves truncated toward zero). The size is in control pixels: one picture
    // pixel per device pixel, so on a scaled screen it is the picture's divided by the ratio.
    QRect PictureRect() const;

    // The graphic's palette; empty when there is no graphic or it has none.
    std::vector<TRGBQuad> GetPalette() const;

    // ---- Zoom mode ----
    bool ZoomMode() const { return zoomMode_; }
    // Switches zoom mode on (the control then fills its scroll box: client alignment) or off
    // (the caller restores the alignment its view wants). Leaving it resets the transform.
    void SetZoomMode(bool value);
    bool FitMode() const { return zoomMode_ && fit_; }
    // Zoom mode with the picture fitted to the control (never enlarged).
    void ZoomToFit();
    // Zoom mode at the scale, keeping the picture point under anchor (control pixels; the
    // centre when absent) in place.
    void ZoomTo(double scale, const QPointF* anchor = nullptr);
    // One zoom step in (direction > 0) or out.
    void ZoomStep(int direction, const QPointF* anchor = nullptr);
    // Turns the view by quarter turns (negative: anticlockwise) or flips it left to right; the
    // file is not touched.
    void TurnView(int quarters);
    void FlipView();
    // Shows a graphic decoded elsewhere (taking it over): size is the picture's full size when
    // the graphic is a reduced first decode, reduced the picture already scaled for the view
    // (either may be empty).
    void ShowDecoded(std::unique_ptr<TGraphic> graphic, QSize size, QImage reduced);
    // The picture's size: the full size of a reduced first decode, else the graphic's.
    QSize PictureSize() const;
    // The picture scaled for the view, when it was handed in with the graphic.
    const QImage& PreparedReduction() const { return seeded_; }

    // The transform in use (meaningful in zoom mode); its pane and scale count device pixels.
    const TViewTransform& View() const { return view_; }

    // Whether pictures are shown one picture pixel per device pixel at 100 % on a scaled screen
    // (a picture viewer), rather than one per control pixel like the rest of the interface (off;
    // a dialog's picture keeps its size beside the dialog's text).
    bool DevicePixels() const { return devicePixels_; }
    void SetDevicePixels(bool value);

    // Whether the transparent parts of the picture are painted over a checkerboard (the
    // background colour still shows around the picture).
    bool Checkerboard() const { return checkerboard_; }
    void SetCheckerboard(bool value);

    // A message shown in the middle of the control instead of the picture (a picture that
    // could not be read); empty shows the picture again.
    void SetMessage(const QString& text);
    QString Message() const { return message_; }

    // Whether the control is marked opaque (its parent is then not painted behind it).
    bool Opaque() const { return testAttribute(Qt::WA_OpaquePaintEvent); }
    // True only while the control paints.
    bool Drawing() const { return drawing_; }

    // Forwarded load progress, with the arguments unchanged.
    TProgressEvent OnProgress;

  signals:
    // The held picture changed (after the control has resized itself to it).
    void OnPictureChange();
    void OnClick();
    void OnDblClick();
    void OnMouseEnter();
    void OnMouseLeave();
    // The zoom, turn or fit of the view changed (also the scale of a fitted picture whose
    // control was resized).
    void OnViewChange();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    // Refits or re-clamps the transform after the picture or the control changed size.
    void UpdateView();
    void PaintZoomed(QPainter& painter, const QImage& image, const QTransform& deviceToControl);
    // Device pixels per control pixel (2 on a screen scaled to 200 %; 1 unless DevicePixels),
    // and the control's size in device pixels: pictures are shown one picture pixel per device
    // pixel at 100 %, and the view's transform counts device pixels.
    double PixelRatio() const;
    QSize DevicePane() const;
    // The picture's size in control pixels when shown unscaled.
    QSize ShownPictureSize() const;
    // Draws a vector picture stretched to scaled, mapped onto the control by scaledToControl,
    // over the exposed area. False when the graphic is not drawn from vectors (or cannot be
    // drawn at that size): the caller then paints its bitmap.
    bool PaintVector(QPainter& painter, QSizeF scaled, const QTransform& scaledToControl,
                     const QRect& exposed);
    // The part of the control the picture covers (all of it when tiled).
    QRectF PictureArea(const QTransform& deviceToControl) const;
    // Fills the part of area the picture covers with a checkerboard, when the picture may let
    // the background show through and the checkerboard is on.
    void PaintCheckerboard(QPainter& painter, const QRect& exposed,
                           const QTransform& deviceToControl);
    // The image reduced to size (see ReducedImage); the last result is kept.
    const QImage& Reduced(const QImage& image, QSize size);
    // Reacts to a change of the held picture: drops the cached image, then PictureChanged.
    void HolderChanged();
    // Sizing, transparency, opaque marking, palette check and repaint request.
    void PictureChanged();
    // Marks the control opaque exactly when its solid picture covers all of it.
    void UpdateOpaque();
    // Reports whether a modified palette of the graphic had to be realised (Qt has no palettes
    // to realise; the flag is still kept as the graphic expects).
    bool DoPaletteChange();
    void Progress(TGraphic* sender, TProgressStage stage, uint8_t percent, bool redrawNow,
                  const TRect& rect, const std::string& msg);
    // The cached image of the held graphic, made on first need after a change. For the formats
    // Qt paints directly it reads the bitmap's rows in place (checked before every use).
    const QImage& Image();

    std::unique_ptr<TPicture> picture_;
    bool autoSize_ = false;
    bool stretch_ = false;
    bool center_ = false;
    bool tiled_ = false;
    bool incrementalDisplay_ = false;
    bool transparent_ = false;
    bool drawing_ = false;
    bool checkerboard_ = false;
    bool devicePixels_ = false;

    QImage image_;
    QImage tileImage_;  // image_ in a 32-bit format for texture fills, made on first tiled paint
    bool imageValid_ = false;
    bool imageShared_ = false;  // image_ reads the rows of the graphic's bitmap
    bool pressed_ = false;

    bool zoomMode_ = false;
    bool fit_ = false;
    TViewTransform view_;
    QPointF dragFrom_;
    bool dragged_ = false;
    QString message_;
    QImage reduced_;
    QSize sizeOverride_, nextSizeOverride_;  // the full size while a reduced decode is shown
    QImage seeded_, nextSeeded_;             // the reduction handed in with the graphic
    qint64 reducedOf_ = 0;

    // The held graphic's vector drawing (made on first need) and its last drawn part.
    std::unique_ptr<TVectorPicture> vector_;
    bool vectorChecked_ = false;
    QImage vectorImage_;
    QSizeF vectorScaled_;
    QRect vectorArea_;
};
