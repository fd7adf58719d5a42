#pragma once
// TFormStorage: the placement component plus a list of the window's components' properties
// (StoredProps, entries "Component.Property") and a list of named values (StoredValues), saved
// in the same section.
//
// Components are found by objectName among the window's descendants and properties by
// Q_PROPERTY name, both without regard to case. The entries are resolved once the window's
// components exist (Loaded): resolving goes from the last entry to the first and drops every
// entry without a ".", with an empty part, or naming no component of the window. An entry whose
// component is later destroyed disappears; one naming a missing property is skipped.
//
// Keys: component name + "_" + the property's declared name ("ReadText_Visible"); an object
// value (a font) adds each sub-property's name ("ReadText_FontName"). See PropertyCodec.h for
// the encodings. Properties are read in list order after the placement, and an error while
// reading one of them is ignored so the next is still read.
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

#include "settings/FormPlacement.h"

// A named value kept in the settings section under its Name. OnSave runs before it is written
// (to fetch the value), OnRestore after it was read.
struct TStoredValue {
    QString Name;
    QString Value;
    QString KeyString;
    std::function<void(TStoredValue&)> OnSave;
    std::function<void(TStoredValue&)> OnRestore;
};

using TStoredValues = QList<TStoredValue>;

class TFormStorage : public TFormPlacement {
    Q_OBJECT
    Q_PROPERTY(QStringList StoredProps READ StoredProps WRITE SetStoredProps)

  public:
    explicit TFormStorage(const QString& name, QObject* owner);

    // The entries in effect (resolved entries whose component still exists).
    QStringList StoredProps() const;
    // Replaces the list; resolved at once when the window has loaded, else at Loaded.
    void SetStoredProps(const QStringList& value);

    TStoredValues& StoredValues() { return storedValues_; }
    const TStoredValues& StoredValues() const { return storedValues_; }

    // The component entry index refers to (null before the entries are resolved).
    QObject* EntryComponent(int index) const;

    void Loaded() override;

  protected:
    void RestoreProperties() override;
    void SaveProperties() override;

  private:
    struct Entry {
        QString text;
        QString property;
        QPointer<QObject> component;
        bool resolved = false;
    };

    void Resolve();
    void Purge();

    QList<Entry> entries_;
    TStoredValues storedValues_;
};
