#include "display/PictureInfoDialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include "imaging/PictureInfo.h"

void ShowPictureProperties(QWidget* parent, const QByteArray& nativePath, const TGraphic* graphic,
                           int frameCount, QSize size) {
    TPictureInfo info = ReadPictureInfo(nativePath.toStdString(), graphic);
    if (frameCount > 1) info.FrameCount = frameCount;
    if (graphic != nullptr && !size.isEmpty()) {
        info.Width = size.width();
        info.Height = size.height();
    }
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("PictureProperties"));
    dialog.setWindowTitle(QStringLiteral("Picture Properties"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    for (const auto& [label, value] : info.Fields()) {
        QString text = QString::fromStdString(value);
        if (label == "Size") {
            const QLocale locale;
            text =
                QStringLiteral("%1 (%2 bytes)")
                    .arg(locale.formattedDataSize(info.FileSize), locale.toString(info.FileSize));
        } else if (label == "File name") {
            // The name as the file system spells it, whatever its encoding.
            text = QFile::decodeName(QByteArray::fromStdString(value));
        }
        auto* field = new QLabel(text);
        field->setTextFormat(Qt::PlainText);
        field->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        form->addRow(QString::fromStdString(label) + u':', field);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    buttons->button(QDialogButtonBox::Close)->setFocus();
    dialog.exec();
}
