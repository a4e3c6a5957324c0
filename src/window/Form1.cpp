#include "window/Form1.hpp"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShowEvent>
#include <QTextCursor>

#include <algorithm>

#include "platform/platform.hpp"
#include "protocol/cp1250.hpp"

namespace vendilox::window {

using platform::TColor;
using platform::TControlId;

namespace {

// The window's flags: a tool window with a caption bar and nothing in it until the program lets
// the user close it.
constexpr Qt::WindowFlags kBaseFlags = Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
constexpr Qt::WindowFlags kSystemMenuFlags = Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

// "MS Sans Serif" 8 point, the window's design font, is 11 pixels high at 96 dots per inch; the
// system's sans-serif face stands in for it.
constexpr int kFormFontPixels = 11;
constexpr int kCaptionFontPixels = 16;

std::size_t Index(TControlId control) {
    return static_cast<std::size_t>(control);
}

void SetupMemo(QPlainTextEdit& memo) {
    memo.setReadOnly(true);
    memo.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    memo.setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memo.setUndoRedoEnabled(false);
}

// A label of the design: it keeps its position and at least its design size, and grows to its
// text, since the design sizes were measured for a font this system may not have.
QLabel* DesignLabel(QWidget* parent, const char* name, std::string_view text, int left, int top,
                    int width, int height) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setText(DisplayText(text, false));
    label->setGeometry(left, top, std::max(width, label->sizeHint().width()), height);
    label->hide();
    return label;
}

QPushButton* DesignButton(QWidget* parent, const char* name, std::string_view text, int left,
                          int top, int width, int height) {
    auto* button = new QPushButton(DisplayText(text, false), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, top, width, height);
    button->hide();
    return button;
}

}  // namespace

QString DisplayText(std::string_view cp1250Text, bool controlPictures) {
    QString text;
    text.reserve(static_cast<qsizetype>(cp1250Text.size()));
    for (char c : cp1250Text) {
        auto byte = static_cast<unsigned char>(c);
        char32_t cp = cp1250::ToUnicode(byte);
        if (controlPictures && byte < 0x20)
            cp = 0x2400 + byte;
        if (controlPictures && byte == 0x7F)
            cp = 0x2421;
        // Every code point of the code page lies in the basic multilingual plane.
        text.append(QChar(static_cast<char16_t>(cp)));
    }
    return text;
}

LogMemo::LogMemo(QWidget* parent, TEcho echo) : QPlainTextEdit(parent), echo_(std::move(echo)) {
    SetupMemo(*this);
}

void LogMemo::AppendLine(std::string_view line) {
    appendPlainText(DisplayText(line, true));
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->maximum());
    if (echo_)
        echo_("log", line);
}

ReportMemo::ReportMemo(QWidget* parent) : QPlainTextEdit(parent) {
    SetupMemo(*this);
}

void ReportMemo::Clear() {
    lines_.clear();
    clear();
}

void ReportMemo::AppendLine(std::string_view line) {
    lines_.emplace_back(line);
    appendPlainText(DisplayText(line, false));
    // The report is read from its first line, the outcome, however long it grows; the cursor
    // stays there too, or showing the memo later would scroll to wherever it is.
    setTextCursor(QTextCursor(document()));
    verticalScrollBar()->setValue(verticalScrollBar()->minimum());
}

std::string ReportMemo::Text() const {
    std::string text;
    for (const auto& line : lines_) {
        text += line;
        text += "\r\n";
    }
    return text;
}

Form1::Form1(platform::IApplication& app, TEcho echo)
    : QWidget(nullptr, kBaseFlags), app_(app), echo_(std::move(echo)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Terminal"));
    QFont formFont = font();
    formFont.setPixelSize(kFormFontPixels);
    setFont(formFont);
    setFixedSize(kClientWidth, kClientHeight);

    panel2_ = new QLabel(this);
    panel2_->setObjectName(QStringLiteral("Panel2"));
    panel2_->setTextFormat(Qt::PlainText);
    panel2_->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel2_->setAlignment(Qt::AlignCenter);
    QFont captionFont = formFont;
    captionFont.setPixelSize(kCaptionFontPixels);
    captionFont.setBold(true);
    panel2_->setFont(captionFont);
    panel2_->setGeometry(6, 20, 445, 37);
    SetColor(TColor::Blue);
    caption_ = "Nákup"_w1250;
    panel2_->setText(DisplayText(caption_, false));

    memo1_ = new LogMemo(this, echo_);
    memo1_->setObjectName(QStringLiteral("Memo1"));
    memo1_->setGeometry(6, 76, 445, 103);
    memo1_->hide();

    memo3_ = new ReportMemo(this);
    memo3_->setObjectName(QStringLiteral("Memo3"));
    memo3_->setGeometry(126, 60, 445, 101);
    memo3_->hide();

    controls_[Index(TControlId::Panel2)] = panel2_;
    controls_[Index(TControlId::Label2)] = DesignLabel(this, "Label2", "Log:"_w1250, 6, 58, 21, 13);
    controls_[Index(TControlId::Memo1)] = memo1_;
    controls_[Index(TControlId::Label1)] =
        DesignLabel(this, "Label1", "Výstup:"_w1250, 86, 56, 35, 13);
    controls_[Index(TControlId::Memo3)] = memo3_;
    controls_[Index(TControlId::Button1)] =
        DesignButton(this, "Button1", "Připojit / Odpojit"_w1250, 243, 60, 94, 25);
    controls_[Index(TControlId::Button2)] =
        DesignButton(this, "Button2", "&Poslat terminálu"_w1250, 345, 60, 109, 25);
}

QWidget* Form1::Control(TControlId control) const {
    return controls_.at(Index(control));
}

void Form1::SetCaption(std::string_view text) {
    caption_ = text;
    panel2_->setText(DisplayText(caption_, false));
    if (echo_) {
        std::string line = color_ == TColor::Blue ? "blue " : "red ";
        line += caption_;
        echo_("status", line);
    }
}

void Form1::SetColor(TColor color) {
    color_ = color;
    QPalette palette = panel2_->palette();
    palette.setColor(QPalette::WindowText, color == TColor::Blue ? Qt::blue : Qt::red);
    panel2_->setPalette(palette);
}

void Form1::SetVisible(TControlId control, bool visible) {
    Control(control)->setVisible(visible);
}

void Form1::SetTop(TControlId control, int top) {
    QWidget* widget = Control(control);
    widget->move(widget->x(), top);
}

void Form1::SetLeft(TControlId control, int left) {
    QWidget* widget = Control(control);
    widget->move(left, widget->y());
}

void Form1::SetEnabled(TControlId control, bool enabled) {
    Control(control)->setEnabled(enabled);
}

int Form1::FrameHeight() const {
    // A frame counts only when it has a caption bar, that is a top edge larger than the bottom
    // one. Before the window is first mapped, offscreen (a thin border only) and without a
    // window manager (nothing) the nominal frame of a tool window stands in.
    const int top = geometry().top() - frameGeometry().top();
    const int bottom = frameGeometry().bottom() - geometry().bottom();
    return top > bottom ? top + bottom : kNominalFrameHeight;
}

void Form1::SetWindowHeight(int height) {
    setFixedSize(width(), std::max(0, height - FrameHeight()));
}

void Form1::AddSystemMenuIcon() {
    if (systemMenu_)
        return;
    systemMenu_ = true;
    // Changing the flags rebuilds the native window and hides it; showing it again raises the
    // show event once more, as the program expects of this change.
    const bool wasVisible = isVisible();
    setWindowFlags(kBaseFlags | kSystemMenuFlags);
    if (wasVisible)
        show();
}

bool Form1::ClosePath() {
    // A close request that arrives while one is being handled (for instance while FormClose
    // shows a message box) is refused instead of running the close a second time.
    if (closing_)
        return false;
    closing_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{closing_};
    if (events_ != nullptr && !events_->FormCloseQuery())
        return false;
    if (events_ != nullptr)
        events_->FormClose();
    // Form1 is the main window: its closing ends the application.
    app_.Terminate();
    return true;
}

void Form1::Close() {
    if (ClosePath())
        hide();
}

bool Form1::SystemClose() {
    bool granted = false;
    platform::Dispatch(app_, [&] { granted = ClosePath(); });
    if (granted)
        hide();
    return granted;
}

void Form1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;  // the window system restored it; the program did not show it
    if (events_ != nullptr)
        platform::Dispatch(app_, [this] { events_->FormShow(); });
    // Centred after the program's show handler, so that a height set there is taken into account.
    CentreOnDesktop();
}

void Form1::closeEvent(QCloseEvent* event) {
    bool granted = false;
    platform::Dispatch(app_, [&] { granted = ClosePath(); });
    if (granted) {
        event->accept();
    } else {
        event->ignore();
    }
}

void Form1::CentreOnDesktop() {
    QScreen* desktop = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (desktop == nullptr)
        return;
    const QRect area = desktop->availableGeometry();
    const int outerWidth = frameGeometry().width();
    const int outerHeight = height() + FrameHeight();
    move(area.x() + (area.width() - outerWidth) / 2, area.y() + (area.height() - outerHeight) / 2);
}

}  // namespace vendilox::window
