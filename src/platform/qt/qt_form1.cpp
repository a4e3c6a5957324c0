#include "platform/qt/qt_form1.hpp"

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
#include "platform/qt/qt_placement.hpp"
#include "protocol/cp1250.hpp"
#include "window/Form1Design.hpp"

namespace vendilox::platform::qt {

namespace {

// The window's flags: a tool window with a caption bar and nothing in it until the program lets
// the user close it.
constexpr Qt::WindowFlags kBaseFlags = Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
constexpr Qt::WindowFlags kSystemMenuFlags = Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

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

QFont DesignFont(const QFont& base, const window::TFontDesign& design) {
    // The design face is rarely installed outside Windows; the system's sans-serif face stands
    // in for it at the design's pixel height.
    QFont font = base;
    font.setPixelSize(design.PixelHeight);
    font.setBold(design.Bold);
    return font;
}

QRect DesignRect(const window::TRect& r) {
    return QRect(r.Left, r.Top, r.Width, r.Height);
}

// A label of the design, at its design position and size; it grows to its text when it is shown
// (FitToText).
QLabel* DesignLabel(QWidget* parent, const window::TControlDesign& design) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(DisplayText(design.Caption, false));
    label->setGeometry(DesignRect(design.Bounds));
    return label;
}

// A label keeps at least its design width and grows to its text, since the design sizes were
// measured for a font this system may not have. Measuring loads the fonts, so it waits until the
// label is shown.
void FitToText(QLabel& label) {
    label.resize(std::max(label.width(), label.sizeHint().width()), label.height());
}

QPushButton* DesignButton(QWidget* parent, const window::TControlDesign& design) {
    auto* button = new QPushButton(DisplayText(design.Caption, false), parent);
    button->setGeometry(DesignRect(design.Bounds));
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

void LogMemo::AppendLine(std::string_view line) {
    if (editor_ != nullptr) {
        editor_->appendPlainText(DisplayText(line, true));
        QScrollBar* bar = editor_->verticalScrollBar();
        bar->setValue(bar->maximum());
    } else {
        pending_.emplace_back(line);
    }
    if (echo_)
        echo_("log", line);
}

void LogMemo::Attach(QPlainTextEdit& editor) {
    editor_ = &editor;
    for (const std::string& line : pending_)
        editor_->appendPlainText(DisplayText(line, true));
    pending_.clear();
    pending_.shrink_to_fit();
    editor_->verticalScrollBar()->setValue(editor_->verticalScrollBar()->maximum());
}

void ReportMemo::Clear() {
    lines_.clear();
    if (editor_ != nullptr)
        editor_->clear();
}

void ReportMemo::AppendLine(std::string_view line) {
    lines_.emplace_back(line);
    if (editor_ == nullptr)
        return;
    editor_->appendPlainText(DisplayText(line, false));
    ShowFirstLine();
}

void ReportMemo::Attach(QPlainTextEdit& editor) {
    editor_ = &editor;
    for (const std::string& line : lines_)
        editor_->appendPlainText(DisplayText(line, false));
    ShowFirstLine();
}

void ReportMemo::ShowFirstLine() {
    // The report is read from its first line, the outcome, however long it grows; the cursor
    // stays there too, or showing the memo later would scroll to wherever it is.
    editor_->setTextCursor(QTextCursor(editor_->document()));
    editor_->verticalScrollBar()->setValue(editor_->verticalScrollBar()->minimum());
}

std::string ReportMemo::Text() const {
    std::string text;
    for (const auto& line : lines_) {
        text += line;
        text += "\r\n";
    }
    return text;
}

Form1::Form1(IApplication& app, TEcho echo)
    : QWidget(nullptr, kBaseFlags), app_(app), echo_(std::move(echo)), memo1_(echo_) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(DisplayText(window::kFormCaption, false));
    const QFont formFont = DesignFont(font(), window::kFormFont);
    setFont(formFont);
    setFixedSize(window::kClientWidth, window::kClientHeight);

    for (const window::TControlDesign& design : window::kControls) {
        QWidget* control = nullptr;
        switch (design.Kind) {
            case window::TControlKind::Panel:
                panel2_ = new QLabel(this);
                panel2_->setTextFormat(Qt::PlainText);
                panel2_->setFrameStyle(QFrame::Panel | QFrame::Raised);
                panel2_->setAlignment(Qt::AlignCenter);
                panel2_->setFont(DesignFont(formFont, window::kCaptionFont));
                panel2_->setGeometry(DesignRect(design.Bounds));
                control = panel2_;
                break;
            case window::TControlKind::Label:
                control = DesignLabel(this, design);
                break;
            case window::TControlKind::Memo:
                continue;  // built when first needed, see Control
            case window::TControlKind::Button:
                control = DesignButton(this, design);
                break;
        }
        control->setObjectName(
            QString::fromLatin1(design.Name.data(), static_cast<qsizetype>(design.Name.size())));
        if (!design.Visible)
            control->hide();
        controls_[Index(design.Id)] = control;
    }
    SetColor(TColor::Blue);
    caption_ = window::ControlDesign(TControlId::Panel2).Caption;
    panel2_->setText(DisplayText(caption_, false));
}

QWidget* Form1::Control(TControlId control) {
    QWidget*& widget = controls_.at(Index(control));
    if (widget != nullptr)
        return widget;
    // Only the memos are built late.
    const window::TControlDesign& design = window::ControlDesign(control);
    auto* editor = new QPlainTextEdit(this);
    editor->setObjectName(
        QString::fromLatin1(design.Name.data(), static_cast<qsizetype>(design.Name.size())));
    SetupMemo(*editor);
    editor->setGeometry(DesignRect(design.Bounds));
    editor->setVisible(design.Visible);
    if (control == TControlId::Memo1) {
        memo1_.Attach(*editor);
    } else {
        memo3_.Attach(*editor);
    }
    widget = editor;
    return widget;
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
    QWidget* widget = Control(control);
    if (visible && window::ControlDesign(control).Kind == window::TControlKind::Label)
        FitToText(*static_cast<QLabel*>(widget));
    widget->setVisible(visible);
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

void Form1::SetWindowHeight(int height) {
    // The height of the frame the window system draws, asked for before the window is first
    // mapped, so that the window has this outer height from its first frame on.
    const QMargins frame = WindowFrame(*this);
    setFixedSize(width(), std::max(0, height - frame.top() - frame.bottom()));
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
    Dispatch(app_, [&] { granted = ClosePath(); });
    if (granted)
        hide();
    return granted;
}

void Form1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;  // the window system restored it; the program did not show it
    if (events_ != nullptr)
        Dispatch(app_, [this] { events_->FormShow(); });
    // Centred after the program's show handler, so that a height set there is taken into account,
    // and before the window is mapped, so that its first frame is where it stays. The window
    // rebuilt for its close button comes back to the same place.
    CentreOn(*this, DesktopArea(*this));
}

void Form1::closeEvent(QCloseEvent* event) {
    bool granted = false;
    Dispatch(app_, [&] { granted = ClosePath(); });
    if (granted) {
        event->accept();
    } else {
        event->ignore();
    }
}

}  // namespace vendilox::platform::qt
