#pragma once
// TMetafile: Windows metafiles (.wmf, .emf). Playing the records needs a painter, which the
// imaging library does not have; this class binds the extensions and refuses to load.
#include "imaging/Graphic.h"

class TMetafile : public TGraphic {
  public:
    static const TGraphicClass& ClassInfo();
    const TGraphicClass& ClassType() const override { return ClassInfo(); }

    int Width() const override { return width_; }
    int Height() const override { return height_; }
    bool Empty() const override { return width_ == 0 || height_ == 0; }

    // Raises EInvalidGraphic "Windows metafiles are not supported yet."
    void LoadFromStream(TStream& stream) override;

    // True for an enhanced metafile (.emf).
    bool Enhanced() const { return enhanced_; }
    void SetEnhanced(bool value) { enhanced_ = value; }

  protected:
    int width_ = 0;
    int height_ = 0;
    bool enhanced_ = true;
};
