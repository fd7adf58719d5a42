#pragma once
// TPendingGraphic: stands in for a format whose loader is not written yet. Each such format
// gets a descriptor of its own (its own class name, so the registry keeps the formats apart),
// and its extensions stay bound; loading raises EInvalidGraphic
// "<description> are not supported yet.". When the real loader lands, its ClassInfo() takes
// the place of the PendingClass call.
#include <string>

#include "imaging/FormatGraphic.h"

class TPendingGraphic : public TFormatGraphic {
  public:
    // The descriptor for the format named className (for example "TTargaGraphic") whose
    // files are described as description (for example "Truevision images"). The same name
    // always gives the same descriptor; it lives as long as the process.
    static const TGraphicClass& PendingClass(const std::string& className,
                                             const std::string& description);

    const TGraphicClass& ClassType() const override { return *class_; }
    // Raises EInvalidGraphic "<description> are not supported yet."
    void LoadFromStream(TStream& stream) override;

  private:
    struct Entry;
    explicit TPendingGraphic(const Entry& entry);

    const TGraphicClass* class_;
    const std::string* description_;
};
