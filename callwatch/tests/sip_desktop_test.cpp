// The desktop window on a SIP line (offscreen): a SIPp caller gets its call screen, whose
// "Take a Message" answers it; its digits show and go on, and the end sequence hangs up.
#include <stdlib.h>

#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <QTest>

#include "app/desktop/CallScreenDlg.h"
#include "app/desktop/CallwatchView.h"
#include "app/desktop/DesktopMessages.h"
#include "app/desktop/MainFrame.h"
#include "app/settings/QtSettingsStore.h"
#include "core/Tapi.h"
#include "tests/DesktopTestApp.h"
#include "tests/ProviderFixture.h"
#include "tests/sip/SipFixture.h"

// The SIP stack runs in this program: what its library keeps at exit (tests/sip/lsan.supp) is not
// this program's leak. Whole stacks, since that library keeps no frame pointers.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:linphone_factory_create_core_3\nleak:ms_snd_card_manager_register_desc\n"
         "leak:ms_snd_card_manager_add_card\n";
}
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

namespace {

class SipDesktopTest : public SipTest {
protected:
  void SetUp() override {
    DesktopTestApp("callwatch_sip_desktop_tests");
    SipTest::SetUp();
    if (IsSkipped()) return;
    setenv("CALLWATCH_SIP_RING_MS", "1000", 1);  // four rings before it answers by itself
    QSettings("Larkspur Soft", "Callwatch").clear();
    port = directLine();
    setup.messagesFolder = folder.file("Messages");
    setup.takesMessages = true;
    setup.link = &digits;
    setup.greeting.assign(800, 1000);
    SetMessageHandler([this](QWidget*, const QString& t) { boxes.push_back(t.toStdString()); });
    ASSERT_GE(CTapiContext::LineInitialize(nullptr, "Callwatch", nullptr), 0);
    CTapiContext::PhoneInitialize(nullptr, "Callwatch", nullptr);
  }
  void TearDown() override {
    frame.reset();
    if (!IsSkipped()) {
      CTapiContext::PhoneShutdown();
      CTapiContext::LineShutdown();
    }
    SetMessageHandler(nullptr);
    QSettings("Larkspur Soft", "Callwatch").clear();
    SipTest::TearDown();
  }
  CCallScreenDlg* screenOf(CCallRecord* r) const {
    return r && r->screen ? dynamic_cast<CCallScreenDlg*>(r->screen->View()) : nullptr;
  }
  bool visible(CCallScreenDlg* s, int id) const { return s->Control(id)->isVisibleTo(s); }

  int port = 0;
  CQtSettingsStore settings;
  CCallScreenSetup setup;
  KeptDigitLink digits;
  std::unique_ptr<CMainFrame> frame;
  std::vector<std::string> boxes;
};

TEST_F(SipDesktopTest, ASipCallersScreenTakesAMessageShowsItsDigitsAndHangsUpOnTheEndSequence) {
  frame = std::make_unique<CMainFrame>(setup, settings);
  frame->show();
  ASSERT_TRUE(frame->View()->Initialised());
  ASSERT_EQ(frame->Monitor()->Lines().size(), 1u);
  EXPECT_TRUE(frame->Monitor()->Lines()[0]->IsOpen());
  auto sipp = startSipp(Sipp("caller.xml", port, Caller("VUD VEROD", "4255550123", true, 40000)));
  CCallwatchView* view = frame->View();
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return view->Model()->rowCount() == 1 && screenOf(view->Model()->Record(0)); }, 10000));
  CCallScreenDlg* screen = screenOf(view->Model()->Record(0));
  EXPECT_TRUE(screen->isVisible());
  EXPECT_EQ(screen->ControlText(IDC_NAME), "VUD VEROD");
  EXPECT_EQ(screen->ControlText(IDC_NUMBER), "+1 (425) 5550123");
  EXPECT_TRUE(visible(screen, IDC_TAKE_MESSAGE));
  QTest::mouseClick(static_cast<QPushButton*>(screen->Control(IDC_TAKE_MESSAGE)), Qt::LeftButton);
  EXPECT_EQ(screen->ControlText(IDC_DTMF_TEXT), "Accepted call -- press '*' to end call");
  ASSERT_TRUE(QTest::qWaitFor([&] { return digits.forwarded == "12#"; }, 10000)) << digits.forwarded;
  ASSERT_TRUE(QTest::qWaitFor([&] { return frame->Monitor()->ActiveCalls() == 0; }, 10000));
  EXPECT_EQ(view->Model()->Text(*view->Model()->Record(0), kColState), "Over");
  EXPECT_EQ(view->Model()->Record(0)->screen, nullptr);
  const ProcessResult r = sipp->finish(10000);
  EXPECT_EQ(r.status, 0) << r.err;  // the BYE came from Callwatch
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(FilesIn(folder.file("Messages")).size(), 1u);
}

}  // namespace
