#pragma once
// TFormatGraphicOf: what every registered loader declares alike, written once. A loader derives
// from TFormatGraphicOf<itself> (or TFormatGraphicOf<itself, its base>) and gives a public
// kClassName, a public default constructor and a static ProbeStream; this gives its descriptor
// (ClassInfo: the name, the factory, the probe and the base's descriptor as Parent) and
// ClassType.
#include <memory>

#include "imaging/FormatGraphic.h"

template <class Derived, class Base = TFormatGraphic>
class TFormatGraphicOf : public Base {
  public:
    using Base::Base;

    static const TGraphicClass& ClassInfo() {
        static const TGraphicClass info{Derived::kClassName,
                                        [] { return std::make_unique<Derived>(); },
                                        &Derived::ProbeStream, &Base::ClassInfo()};
        return info;
    }
    const TGraphicClass& ClassType() const override { return ClassInfo(); }
};
