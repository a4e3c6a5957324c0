// The status window: its design, the debug layout, the show and close events, and what it shows.
#include "platform/qt/qt_form1.hpp"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "protocol/cp1250.hpp"
#include "support.hpp"

namespace vendilox::platform::qt {
namespace {

using platform::TColor;
using platform::TControlId;
using platform::test::RecordingApplication;

class RecordingEvents : public platform::IWindowEvents {
  public:
    void FormShow() override { ++Shows; }
    bool FormCloseQuery() override {
        ++Queries;
        if (ThrowInQuery)
            throw std::runtime_error("query failed");
        return CanClose;
    }
    void FormClose() override { ++Closes; }

    bool CanClose = false;
    bool ThrowInQuery = false;
    int Shows = 0;
    int Queries = 0;
    int Closes = 0;
};

class Form1Test : public testing::Test {
  protected:
    Form1Test() { form.SetEvents(&events); }

    RecordingApplication app;
    std::vector<std::string> echoed;
    Form1 form{app, [this](std::string_view kind, std::string_view text) {
                   echoed.push_back(std::string(kind) + "|" + std::string(text));
               }};
    RecordingEvents events;
};

struct Placement {
    TControlId id;
    const char* name;
    QRect design;
};

// Every control at its design position and size; all but the caption hidden.
const Placement kDesign[] = {
    {TControlId::Panel2, "Panel2", {6, 20, 445, 37}},
    {TControlId::Label2, "Label2", {6, 58, 21, 13}},
    {TControlId::Memo1, "Memo1", {6, 76, 445, 103}},
    {TControlId::Label1, "Label1", {86, 56, 35, 13}},
    {TControlId::Memo3, "Memo3", {126, 60, 445, 101}},
    {TControlId::Button1, "Button1", {243, 60, 94, 25}},
    {TControlId::Button2, "Button2", {345, 60, 109, 25}},
};

TEST_F(Form1Test, HasTheDesignedWindowAndControls) {
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Terminal"));
    EXPECT_EQ(form.size(), QSize(458, 84));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "fixed size";
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::Tool));
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowSystemMenuHint));
    EXPECT_FALSE(form.HasSystemMenuIcon());

    form.show();
    for (const Placement& p : kDesign) {
        SCOPED_TRACE(p.name);
        QWidget* control = form.Control(p.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control, form.findChild<QWidget*>(QString::fromLatin1(p.name)));
        EXPECT_EQ(control->isVisible(), p.id == TControlId::Panel2);
        EXPECT_EQ(control->pos(), p.design.topLeft());
        EXPECT_EQ(control->size(), p.design.size()) << "labels grow only once shown";
    }

    auto* panel = static_cast<QLabel*>(form.Control(TControlId::Panel2));
    EXPECT_EQ(panel->text(), QStringLiteral("Nákup"));
    EXPECT_EQ(form.Caption(), "Nákup"_w1250);
    EXPECT_EQ(form.Color(), TColor::Blue);
    EXPECT_EQ(panel->palette().color(QPalette::WindowText), QColor(Qt::blue));
    EXPECT_TRUE(panel->font().bold());
    EXPECT_EQ(panel->font().pixelSize(), 16);
    EXPECT_EQ(panel->alignment(), Qt::AlignCenter);
    EXPECT_EQ(panel->frameShadow(), QFrame::Raised);
    EXPECT_EQ(static_cast<QLabel*>(form.Control(TControlId::Label1))->text(),
              QStringLiteral("Výstup:"));
    EXPECT_EQ(static_cast<QLabel*>(form.Control(TControlId::Label2))->text(),
              QStringLiteral("Log:"));
    EXPECT_EQ(static_cast<QPushButton*>(form.Control(TControlId::Button1))->text(),
              QStringLiteral("Připojit / Odpojit"));
    EXPECT_EQ(static_cast<QPushButton*>(form.Control(TControlId::Button2))->text(),
              QStringLiteral("&Poslat terminálu"));
    for (TControlId memo : {TControlId::Memo1, TControlId::Memo3}) {
        auto* edit = static_cast<QPlainTextEdit*>(form.Control(memo));
        EXPECT_TRUE(edit->isReadOnly());
        EXPECT_EQ(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        EXPECT_EQ(edit->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    }
}

// The steps the program takes for debug mode, and the window it must give.
TEST_F(Form1Test, DebugLayoutShowsLogAndReportInsideTheWindow) {
    form.show();
    form.SetWindowHeight(365);
    form.SetVisible(TControlId::Label1, true);
    form.SetTop(TControlId::Label1, 216);
    form.SetLeft(TControlId::Label1, 6);
    form.SetVisible(TControlId::Label2, true);
    form.SetTop(TControlId::Label2, 90);
    form.SetVisible(TControlId::Memo1, true);
    form.SetTop(TControlId::Memo1, 108);
    form.SetVisible(TControlId::Memo3, true);
    form.SetTop(TControlId::Memo3, 234);
    form.SetLeft(TControlId::Memo3, 6);

    // The outer height comes from the frame the window system reports; where the window really
    // goes is the window geometry test's, on a display with a window manager.
    EXPECT_EQ(form.width(), 458);
    EXPECT_EQ(form.Control(TControlId::Label1)->pos(), QPoint(6, 216));
    EXPECT_EQ(form.Control(TControlId::Label2)->pos(), QPoint(6, 90));
    for (auto [id, designWidth] : {std::pair{TControlId::Label1, 35}, {TControlId::Label2, 21}}) {
        // Shown labels grow to their text in this system's font, never below the design width.
        auto* label = static_cast<QLabel*>(form.Control(id));
        EXPECT_GE(label->width(), designWidth);
        EXPECT_GE(label->width(), label->sizeHint().width());
    }
    EXPECT_EQ(form.Control(TControlId::Memo1)->geometry(), QRect(6, 108, 445, 103));
    EXPECT_EQ(form.Control(TControlId::Memo3)->geometry(), QRect(6, 234, 445, 101));
    EXPECT_TRUE(form.rect().contains(form.Control(TControlId::Memo3)->geometry()))
        << "the report memo must fit into the client area";
    for (TControlId id : {TControlId::Panel2, TControlId::Label1, TControlId::Label2,
                          TControlId::Memo1, TControlId::Memo3}) {
        EXPECT_TRUE(form.Control(id)->isVisible());
    }
    EXPECT_FALSE(form.Control(TControlId::Button1)->isVisible());
    EXPECT_FALSE(form.Control(TControlId::Button2)->isVisible());

    form.SetEnabled(TControlId::Button2, false);
    EXPECT_FALSE(form.Control(TControlId::Button2)->isEnabled());
}

TEST_F(Form1Test, AddingTheSystemMenuRaisesTheShowEventOnceMore) {
    form.show();
    EXPECT_EQ(events.Shows, 1);

    form.AddSystemMenuIcon();
    EXPECT_EQ(events.Shows, 2);
    EXPECT_TRUE(form.HasSystemMenuIcon());
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowSystemMenuHint));
    EXPECT_TRUE(form.windowFlags().testFlag(Qt::Tool));

    form.AddSystemMenuIcon();
    EXPECT_EQ(events.Shows, 2) << "the icon is there already: nothing is rebuilt";
}

TEST_F(Form1Test, ShowHandlerFailureIsShownAndTheWindowStillAppears) {
    struct Throwing : RecordingEvents {
        void FormShow() override { throw std::runtime_error("settings cannot be written"); }
    } throwing;
    form.SetEvents(&throwing);
    form.show();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(app.Exceptions, std::vector<std::string>{"settings cannot be written"});
}

enum class CloseRoute { Program, WindowSystem, Signal };

struct CloseCase {
    const char* name;
    CloseRoute route;
    bool canClose;
};

class Form1CloseTest : public Form1Test, public testing::WithParamInterface<CloseCase> {
  protected:
    void RequestClose(CloseRoute route) {
        switch (route) {
            case CloseRoute::Program:
                form.Close();
                break;
            case CloseRoute::WindowSystem:
                form.close();  // what the close button and Alt+F4 deliver: a close event
                break;
            case CloseRoute::Signal:
                form.SystemClose();
                break;
        }
    }
};

TEST_P(Form1CloseTest, GoesThroughTheCloseQuery) {
    const CloseCase& c = GetParam();
    form.show();
    events.CanClose = c.canClose;

    RequestClose(c.route);

    EXPECT_EQ(events.Queries, 1);
    EXPECT_EQ(events.Closes, c.canClose ? 1 : 0);
    EXPECT_EQ(app.TerminateCalls, c.canClose ? 1 : 0);
    EXPECT_EQ(form.isVisible(), !c.canClose);
}

INSTANTIATE_TEST_SUITE_P(
    Routes, Form1CloseTest,
    testing::Values(CloseCase{"ProgramRefused", CloseRoute::Program, false},
                    CloseCase{"ProgramGranted", CloseRoute::Program, true},
                    CloseCase{"WindowSystemRefused", CloseRoute::WindowSystem, false},
                    CloseCase{"WindowSystemGranted", CloseRoute::WindowSystem, true},
                    CloseCase{"SignalRefused", CloseRoute::Signal, false},
                    CloseCase{"SignalGranted", CloseRoute::Signal, true}),
    [](const testing::TestParamInfo<CloseCase>& info) { return std::string(info.param.name); });

TEST_F(Form1Test, FailingCloseQueryFromTheWindowSystemIsShownAndRefuses) {
    form.show();
    events.ThrowInQuery = true;
    form.close();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(events.Closes, 0);
    EXPECT_EQ(app.TerminateCalls, 0);
    EXPECT_EQ(app.Exceptions, std::vector<std::string>{"query failed"});
}

TEST_F(Form1Test, CaptionIsConvertedAndEchoedWithItsColour) {
    auto* panel = static_cast<QLabel*>(form.Control(TControlId::Panel2));
    form.SetCaption("Terminál neodpovídá!"_w1250);
    form.SetColor(TColor::Red);
    form.SetCaption("Zrušeno zákazníkem"_w1250);

    EXPECT_EQ(panel->text(), QStringLiteral("Zrušeno zákazníkem"));
    EXPECT_EQ(form.Caption(), "Zrušeno zákazníkem"_w1250);
    EXPECT_EQ(panel->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(echoed,
              (std::vector<std::string>{"status|blue " + std::string("Terminál neodpovídá!"_w1250),
                                        "status|red " + std::string("Zrušeno zákazníkem"_w1250)}));

    // A caption is plain text, never markup.
    form.SetCaption("<b>x</b>");
    EXPECT_EQ(panel->textFormat(), Qt::PlainText);
}

TEST_F(Form1Test, LogDrawsControlBytesAndFollowsTheNewestLine) {
    auto* memo = static_cast<QPlainTextEdit*>(form.Control(TControlId::Memo1));
    form.Memo1().AppendLine(
        "P\xF8ijmut\xE1 data: \x02"
        "A\x1C"
        "B\x03\x7F");
    EXPECT_EQ(memo->toPlainText(), QStringLiteral("Přijmutá data: \u2402A\u241CB\u2403\u2421"));
    EXPECT_EQ(echoed.back(),
              "log|P\xF8ijmut\xE1 data: \x02"
              "A\x1C"
              "B\x03\x7F");

    // A line break inside the data stays inside its log line.
    form.Memo1().AppendLine("a\r\nb");
    EXPECT_EQ(memo->blockCount(), 2);

    form.SetVisible(TControlId::Memo1, true);
    form.show();
    for (int i = 0; i < 200; ++i)
        form.Memo1().AppendLine("line " + std::to_string(i));
    QScrollBar* bar = memo->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
}

// Building a memo's editor loads the fonts; the window shown in normal mode needs neither memo,
// and what was written meanwhile is all there once an editor is built.
TEST_F(Form1Test, MemoEditorsAreBuiltOnlyWhenNeededAndShowWhatCameBefore) {
    form.Memo1().AppendLine(
        "Odeslan\xE1 data: \x02"
        "B\x03");
    form.Memo1().AppendLine("CRC: 8FBF");
    form.Memo3().AppendLine("000|87654321|");
    form.Memo3().AppendLine("Stav po zpracov\xE1n\xED: Transakce provedena");
    form.show();
    EXPECT_EQ(form.findChild<QPlainTextEdit*>(), nullptr);
    EXPECT_EQ(form.Memo3().Text(),
              "000|87654321|\r\nStav po zpracov\xE1n\xED: Transakce provedena\r\n");

    auto* log = static_cast<QPlainTextEdit*>(form.Control(TControlId::Memo1));
    auto* report = static_cast<QPlainTextEdit*>(form.Control(TControlId::Memo3));
    EXPECT_EQ(log->toPlainText(), QStringLiteral("Odeslaná data: \u2402B\u2403\nCRC: 8FBF"));
    EXPECT_EQ(report->toPlainText(),
              QStringLiteral("000|87654321|\nStav po zpracování: Transakce provedena"));
    EXPECT_FALSE(log->isVisible());
    EXPECT_FALSE(report->isVisible());
    EXPECT_EQ(log->geometry(), QRect(6, 76, 445, 103));
    EXPECT_EQ(report->geometry(), QRect(126, 60, 445, 101));

    // From now on the editors follow directly.
    form.Memo1().AppendLine("Activity confirmation");
    form.Memo3().Clear();
    form.Memo3().AppendLine("new");
    EXPECT_TRUE(log->toPlainText().endsWith(QStringLiteral("\nActivity confirmation")));
    EXPECT_EQ(report->toPlainText(), QStringLiteral("new"));
    EXPECT_EQ(form.Memo3().Text(), "new\r\n");
}

TEST_F(Form1Test, ReportMemoKeepsItsLinesByteForByte) {
    platform::IReportMemo& report = form.Memo3();
    report.AppendLine("old");
    report.Clear();
    report.AppendLine("Stav: Transakce provedena"_w1250);
    report.AppendLine("");
    report.AppendLine(std::string("\x81\x90", 2));  // bytes the code page leaves undefined

    EXPECT_EQ(report.Text(),
              std::string("Stav: Transakce provedena"_w1250) + "\r\n\r\n\x81\x90\r\n");
    auto* memo = static_cast<QPlainTextEdit*>(form.Control(TControlId::Memo3));
    EXPECT_TRUE(memo->toPlainText().startsWith(QStringLiteral("Stav: Transakce provedena\n\n")));
    EXPECT_TRUE(echoed.empty()) << "the report is not echoed";

    // A report longer than the memo shows its first line, the outcome, also when it was
    // written while the memo was hidden.
    for (int i = 0; i < 30; ++i) {
        report.AppendLine("line " + std::to_string(i));
    }
    form.SetVisible(TControlId::Memo3, true);
    form.show();
    QCoreApplication::processEvents();
    QScrollBar* bar = memo->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->minimum());
}

}  // namespace
}  // namespace vendilox::platform::qt
