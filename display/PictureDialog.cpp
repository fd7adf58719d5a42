#include "display/PictureDialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "display/PictureView.h"
#include "imaging/formats/JPEGImage.h"
#include "toolkit/Controls.h"

// --- String table ----------------------------------------------------------------------------

namespace {

constexpr int kEnglishCaptionId = 30516;
constexpr int kOtherCaptionBase = 30546;
constexpr int kCaptionStep = 30;

// "Image View" in the sixteen dialog languages, in TDialogLanguage order.
const char16_t* const kImageViewCaptions[] = {
    u"Image View",           u"Просмотр изображения", u"Перегляд зображення",
    u"Affichage de l'image", u"Visualizar imagem",    u"Ver imagen",
    u"Bildansicht",          u"Billedvisning",        u"Visualizza immagine",
    u"Bildvisning",          u"Afbeelding bekijken",  u"Podgląd obrazu",
    u"Képnézegető",          u"Resim görünümü",       u"Zobrazenie obrázka",
    u"이미지 보기"};
constexpr int kLanguageCount = 16;

}  // namespace

int DialogCaptionId(TDialogLanguage language) {
    const int n = static_cast<int>(language);
    return n == 0 ? kEnglishCaptionId : kOtherCaptionBase + kCaptionStep * (n - 1);
}

QString DialogString(int id) {
    if (id == kEnglishCaptionId) return QString::fromUtf16(kImageViewCaptions[0]);
    const int offset = id - kOtherCaptionBase;
    if (offset < 0 || offset % kCaptionStep != 0) return {};
    const int language = offset / kCaptionStep + 1;
    if (language >= kLanguageCount) return {};
    return QString::fromUtf16(kImageViewCaptions[language]);
}

// --- TDialogBase --------------------------------------------------------------------------

TDialogBase::TDialogBase(const QString& name, QObject* parent)
    : QObject(parent), font_(std::make_unique<TFont>()) {
    setObjectName(name);
}

TDialogBase::~TDialogBase() = default;

void TDialogBase::PlaySound() const {
    if (soundType_ == stNoSound) return;
    if (SoundHook) {
        SoundHook(soundType_);
        return;
    }
    // The desktop offers one alert sound; the asterisk, exclamation, hand and question sounds
    // all map to it.
    QApplication::beep();
}

// --- TPictureDialog ---------------------------------------------------------------------

TPictureDialog::TPictureDialog(const QString& name, QObject* parent)
    : TDialogBase(name, parent), picture_(std::make_unique<TPicture>()) {}

TPictureDialog::~TPictureDialog() {
    if (form_ != nullptr) {
        form_->dialog_ = nullptr;
        delete form_.data();
    }
}

void TPictureDialog::SetPicture(const TPicture* value) {
    if (value == nullptr)
        picture_->SetGraphic(nullptr);
    else
        picture_->Assign(*value);
}

void TPictureDialog::ShowPicture() {
    if (form_ != nullptr) {
        form_->raise();
        form_->activateWindow();
        form_->setFocus();
        return;
    }
    auto* form = new TPictureDialogWindow(nullptr);
    form->dialog_ = this;
    form_ = form;
    try {
        if (Language() != dlEnglish)
            form->setWindowTitle(DialogString(DialogCaptionId(Language())));
        if (!caption_.isEmpty()) form->setWindowTitle(caption_);
        if (borderStyle_ == bsSingle) {
            form->Panel->SetBevelOuter(bvLowered);
            form->Panel->SetBevelCtl3D(true);
        }
        // A picture that cannot be decoded fails here, not later while painting.
        if (auto* jpeg = dynamic_cast<TJPEGImage*>(picture_->Graphic())) jpeg->DIBNeeded();
        if (!text_.isEmpty()) form->SetFooter(text_);
        form->Image->SetPicture(picture_.get());
        form->PictureChanged();
        // Centred on the screen once its size is known.
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(0, 0), form->size());
            frame.moveCenter(screen->availableGeometry().center());
            form->move(frame.topLeft());
        }
        PlaySound();
        if (modal_) {
            form->exec();
            delete form;
        } else {
            form->freeOnClose_ = true;
            form->show();
        }
    } catch (...) {
        delete form;
        throw;
    }
}

// --- TPictureDialogWindow
// --------------------------------------------------------------------------

TPictureDialogWindow::TPictureDialogWindow(QWidget* owner)
    : TCommonDialogForm(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("ImageViewForm"));
    setWindowTitle(DialogString(DialogCaptionId(dlEnglish)));
    setSizeGripEnabled(false);
    TAlignLayout::Install(this);
    Panel = new TBevelPanel(QStringLiteral("Panel"), this);
    Panel->SetBevelOuter(bvNone);
    Panel->SetAlign(alClient);
    Image = new TPictureView(QStringLiteral("Image"), Panel);
    Image->SetAlign(alClient);
    connect(Image, &TPictureView::OnPictureChange, this, &TPictureDialogWindow::PictureChanged);
}

TPictureDialogWindow::~TPictureDialogWindow() {
    FormDestroy();
}

void TPictureDialogWindow::SetFooter(const QString& text) {
    if (footer_ == nullptr) {
        footer_ = new QWidget(this);
        footer_->setObjectName(QStringLiteral("Footer"));
        auto* layout = new QVBoxLayout(footer_);
        footerText_ = new QLabel(footer_);
        footerText_->setObjectName(QStringLiteral("FooterText"));
        footerText_->setWordWrap(true);
        footerText_->setTextFormat(Qt::RichText);
        footerText_->setOpenExternalLinks(true);
        footerText_->setTextInteractionFlags(Qt::TextBrowserInteraction);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, footer_);
        closeButton_ = buttons->button(QDialogButtonBox::Close);
        closeButton_->setDefault(true);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        layout->addWidget(footerText_);
        layout->addWidget(buttons);
        // The picture keeps its own place above the footer.
        Panel->SetAlign(alNone);
        closeButton_->setFocus();
    }
    footerText_->setText(text);
    PictureChanged();
}

void TPictureDialogWindow::PictureChanged() {
    int w = std::max(Image->Picture()->Width(), 0);
    int h = std::max(Image->Picture()->Height(), 0);
    if (Panel->BevelCtl3D()) {
        w += 4;
        h += 4;
    }
    int footer = 0;
    if (footer_ != nullptr) {
        Panel->setGeometry(0, 0, w, h);
        footer = footer_->layout()->totalHeightForWidth(w);
        if (footer < 0) footer = footer_->sizeHint().height();
        footer_->setGeometry(0, h, w, footer);
    }
    setFixedSize(w, h + footer);
    TAlignLayout::Realign(this);
}

void TPictureDialogWindow::FormClose() {
    if (freeOnClose_) deleteLater();
}

void TPictureDialogWindow::FormDestroy() {
    if (dialog_ != nullptr && dialog_->form_ == this) dialog_->form_ = nullptr;
    dialog_ = nullptr;
}

void TPictureDialogWindow::closeEvent(QCloseEvent* event) {
    TCommonDialogForm::closeEvent(event);
    if (event->isAccepted()) FormClose();
}
