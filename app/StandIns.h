#pragma once
// A minimal stand-in for the About box until its own dialog is part of the program. It carries
// its component name and caption so the window's component tree is complete; the real dialog
// replaces it class for class.
#include <QObject>
#include <QString>

// The About box.
class TAboutBoxStandIn : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)

  public:
    explicit TAboutBoxStandIn(const QString& name, QObject* parent = nullptr);

    QString Caption() const { return caption_; }
    void SetCaption(const QString& value) { caption_ = value; }

  private:
    QString caption_ = QStringLiteral("About ...");
};
