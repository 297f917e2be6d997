#include "extraction/progress_dialog.h"

#include <gtest/gtest.h>

#include "testing/extract_job_fixture.h"
#include "extraction/output_file.h"
#include "extraction/taskbar_progress.h"
#include "testing/payload_fixture.h"
#include "testing/signed_blocks.h"

namespace {

std::vector<uint8_t> StoredBlock(uint32_t id, const std::vector<uint8_t>& content) {
  return RawBlock(FILE_BLOCK_KIND_BYTES, id, content, BlockSignature(DevelopmentKey(), content));
}

const char kClass[] = "MSI_STUB_WINDOW_CLASS_NAME";
const char kFont[] = "MS Sans Serif";
const char kFolder[] = "C:\\Out";
const HINSTANCE kInstance = reinterpret_cast<HINSTANCE>(0x400000);
const char kWriteFault[] = "The system cannot write to the specified device.\r\n";
const char kNoResources[] =
    "Insufficient system resources exist to complete the requested service.\r\n";

void AppendWord(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void AppendText(std::vector<uint8_t>& out, const std::u16string& text) {
  for (char16_t unit : text) AppendWord(out, unit);
  AppendWord(out, 0);
}

std::vector<uint8_t> Bytes(const void* data, uint32_t size) {
  auto* p = static_cast<const uint8_t*>(data);
  return std::vector<uint8_t>(p, p + size);
}

// The texts of a template, read within its size; fails the test when a text
// runs past the end or the size is not whole DWORDs.
struct TemplateTexts {
  std::u16string className, title, fontName;
};

TemplateTexts ReadTexts(const std::vector<uint8_t>& bytes) {
  TemplateTexts texts;
  size_t at = 20;  // header and the menu word
  auto text = [&](std::u16string& out) {
    for (;;) {
      if (at + 2 > bytes.size()) {
        ADD_FAILURE() << "text runs past the template";
        return;
      }
      char16_t unit = static_cast<char16_t>(bytes[at] | bytes[at + 1] << 8);
      at += 2;
      if (!unit) return;
      out.push_back(unit);
    }
  };
  text(texts.className);
  text(texts.title);
  at += 2;  // point size
  text(texts.fontName);
  EXPECT_LE(at, bytes.size());
  EXPECT_EQ(bytes.size() % 4, 0u);
  return texts;
}

TEST(BuildProgressTemplateTest, LaysOutTheDialogByteForByte) {
  fake::Reset();
  uint32_t size = 0;
  void* dialogTemplate = BuildProgressTemplate(kClass, "Demo", kFont, &size);
  ASSERT_NE(dialogTemplate, nullptr);

  std::vector<uint8_t> expected = {
      0xC0, 0x08, 0xC8, 0x80,  // style 0x80C808C0
      0x00, 0x00, 0x00, 0x00,  // extended style
      0x00, 0x00,              // no controls
      0x00, 0x00, 0x00, 0x00,  // x, y
      0xB4, 0x00, 0x28, 0x00,  // 180 x 40 dialog units
      0x00, 0x00,              // no menu
  };
  AppendText(expected, u"MSI_STUB_WINDOW_CLASS_NAME");
  AppendText(expected, u"Demo");
  AppendWord(expected, 10);
  AppendText(expected, u"MS Sans Serif");
  ASSERT_EQ(expected.size(), 28u + 2 * (26 + 4 + 13));
  expected.resize(116, 0);  // whole DWORDs
  EXPECT_EQ(Bytes(dialogTemplate, size), expected);
  GlobalFree(dialogTemplate);
  EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
}

// Texts are cut to 49 UTF-16 units at a character boundary.
struct LongText {
  const char* name;
  fake::CodePage codePage;
  std::string className, title, fontName;
  std::u16string expectedClass, expectedTitle, expectedFont;
};

void PrintTo(const LongText& value, std::ostream* out) { *out << value.name; }

class LongTextTest : public ::testing::TestWithParam<LongText> {};

TEST_P(LongTextTest, IsCutSoThatTheTemplateStaysWellFormed) {
  fake::Reset();
  fake::W().system.codePage = GetParam().codePage;
  uint32_t size = 0;
  void* dialogTemplate = BuildProgressTemplate(GetParam().className.c_str(),
                                               GetParam().title.c_str(),
                                               GetParam().fontName.c_str(), &size);
  ASSERT_NE(dialogTemplate, nullptr);
  TemplateTexts texts = ReadTexts(Bytes(dialogTemplate, size));
  EXPECT_EQ(texts.className, GetParam().expectedClass);
  EXPECT_EQ(texts.title, GetParam().expectedTitle);
  EXPECT_EQ(texts.fontName, GetParam().expectedFont);
  GlobalFree(dialogTemplate);
}

const std::string k49(49, 'A');
const std::u16string k49u(49, u'A');
const std::string k48(48, 'A');
const std::u16string k48u(48, u'A');

INSTANTIATE_TEST_SUITE_P(
    Texts, LongTextTest,
    ::testing::Values(
        LongText{"Exactly49", fake::CodePage::Utf8, kClass, k49, kFont,
                 u"MSI_STUB_WINDOW_CLASS_NAME", k49u, u"MS Sans Serif"},
        LongText{"Title255", fake::CodePage::Utf8, kClass, std::string(255, 'A'), kFont,
                 u"MSI_STUB_WINDOW_CLASS_NAME", k49u, u"MS Sans Serif"},
        LongText{"ClassAndFont", fake::CodePage::Utf8, std::string(60, 'A'), "T",
                 std::string(80, 'A'), k49u, u"T", k49u},
        // A two-byte character as the 49th unit fits; a surrogate pair that
        // would be the 49th and 50th does not, and is not split.
        LongText{"MultibyteAtTheEnd", fake::CodePage::Utf8, kClass, k48 + "\xC3\xA9xyz", kFont,
                 u"MSI_STUB_WINDOW_CLASS_NAME", k48u + u"\u00E9", u"MS Sans Serif"},
        LongText{"SurrogatePairAtTheEnd", fake::CodePage::Utf8, kClass,
                 k48 + "\xF0\x9F\x98\x80", kFont, u"MSI_STUB_WINDOW_CLASS_NAME", k48u,
                 u"MS Sans Serif"},
        LongText{"DoubleByte", fake::CodePage::DoubleByte, kClass, std::string(120, '\x88'),
                 kFont, u"MSI_STUB_WINDOW_CLASS_NAME",
                 std::u16string(49, static_cast<char16_t>(0x4E00 + (0x88 - 0x81) * 256 + 0x88)),
                 u"MS Sans Serif"},
        LongText{"Empty", fake::CodePage::Utf8, kClass, "", kFont,
                 u"MSI_STUB_WINDOW_CLASS_NAME", u"", u"MS Sans Serif"}),
    [](const ::testing::TestParamInfo<LongText>& info) { return info.param.name; });

class RunProgressDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    fake::W().ui.commonControlsInitialized = true;
    fake::W().texts.systemMessages[ERROR_WRITE_FAULT] = kWriteFault;
    fake::W().texts.systemMessages[ERROR_NO_SYSTEM_RESOURCES] = kNoResources;
    fake::AddFolder(kFolder);
    // Every message's writing takes longer than its budget: one writer step
    // per message, so that each step can be seen.
    fake::W().system.tickStep = 1000;
    CoInitialize(nullptr);
  }

  void TearDown() override {
    TaskbarProgress_Destroy(taskbar_);
    taskbar_ = nullptr;
    CoUninitialize();
    EXPECT_EQ(fake::W().com.initialized, 0);
    EXPECT_EQ(fake::W().com.liveObjects, 0);
    EXPECT_TRUE(fake::W().ui.timers.empty());
    for (const fake::DialogRun& run : fake::W().ui.dialogs) EXPECT_FALSE(run.stalled);
  }

  // The job's files, open for writing in C:\Out.
  void OpenFiles(TestJob& files) {
    for (int32_t i = 0; i < files.job()->count; i++) {
      ExtractItem& item = files.item(i);
      std::string path = std::string(kFolder) + "\\" + item.name;
      ASSERT_LT(path.size(), sizeof item.path);
      memcpy(item.path, path.c_str(), path.size() + 1);
      ASSERT_TRUE(CreateOutputFile(&item, nullptr));
    }
  }

  int Run(TestJob& files) {
    return RunProgressDialog(files.job(), kInstance, taskbar_, kClass, kProductName, kFont);
  }

  HWND Dialog() { return fake::W().ui.dialogs.back().window; }

  const fake::Window* Bar() {
    for (auto& entry : fake::W().ui.windows)
      if (entry.second.className == PROGRESS_CLASSA) return &entry.second;
    return nullptr;
  }

  // Files of four slices and of 100 bytes, stored (not compressed) so that
  // the progress of a block is that of its file.
  TestJob files_{{{"main.msi", Content(4 * BLOCK_CONTENT_SLICE, 1)}, {"main.cab", Content(100, 2)}},
                 StoredBlock,
                 SOURCE_SIGNED};
  TaskbarProgress* taskbar_ = nullptr;
};

TEST_F(RunProgressDialogTest, WritesEveryFileUnderTheProgressWindow) {
  taskbar_ = TaskbarProgress_Create();
  OpenFiles(files_);
  uint32_t allocations = fake::W().memory.liveAllocations;
  EXPECT_EQ(Run(files_), 1);
  EXPECT_EQ(fake::W().memory.liveAllocations, allocations);  // the template is freed
  EXPECT_EQ(fake::FileData(files_.item(0).path), files_.content(0));
  EXPECT_EQ(fake::FileData(files_.item(1).path), files_.content(1));
  EXPECT_TRUE(fake::W().ui.messageBoxes.empty());

  ASSERT_EQ(fake::W().ui.classes.size(), 1u);
  const fake::RegisteredClass& windowClass = fake::W().ui.classes[0];
  EXPECT_EQ(windowClass.name, kClass);
  EXPECT_EQ(windowClass.style, 0x0A08u);
  EXPECT_EQ(windowClass.windowProc, DefDlgProcA);
  EXPECT_EQ(windowClass.classExtra, 0);
  EXPECT_EQ(windowClass.windowExtra, 30);
  EXPECT_EQ(windowClass.instance, kInstance);
  EXPECT_EQ(windowClass.icon, nullptr);
  EXPECT_EQ(windowClass.cursor, fake::kArrowCursor);
  EXPECT_EQ(windowClass.background, nullptr);
  EXPECT_FALSE(windowClass.hasMenu);

  ASSERT_EQ(fake::W().ui.dialogs.size(), 1u);
  const fake::DialogRun& run = fake::W().ui.dialogs[0];
  EXPECT_TRUE(run.parsed);
  EXPECT_EQ(run.title, kProductName);
  EXPECT_EQ(run.className, kClass);
  EXPECT_EQ(run.fontName, kFont);
  EXPECT_EQ(run.pointSize, 10);
  EXPECT_EQ(run.owner, nullptr);
  // The timer once the window shows; then, with nothing waiting in the
  // queue, the window goes on at once by the message it posts itself.
  std::vector<UINT> expectedMessages = {WM_INITDIALOG, WM_PAINT, WM_TIMER};
  expectedMessages.insert(expectedMessages.end(), 6, WM_APP + 1);
  EXPECT_EQ(run.delivered, expectedMessages);
  EXPECT_EQ(fake::W().ui.paintsBegun, 1u);
  EXPECT_EQ(fake::W().ui.paintsEnded, 1u);

  const fake::Window* bar = Bar();
  ASSERT_NE(bar, nullptr);
  const fake::Window& dialog = fake::W().ui.windows[run.window];
  // The window keeps what it was started with (job, instance and taskbar)
  // for the timer steps; everything is of the launcher's module.
  EXPECT_NE(run.param, 0);
  EXPECT_EQ(dialog.userData, run.param);
  EXPECT_EQ(dialog.instance, kInstance);
  EXPECT_EQ(bar->instance, kInstance);
  EXPECT_EQ(bar->parent, run.window);
  EXPECT_EQ(bar->id, 100);
  EXPECT_EQ(bar->style, WS_CHILD | WS_VISIBLE);
  EXPECT_EQ(bar->text, "");
  // 5, 14, 170, 12 dialog units with base units 7 x 16, rounded as Windows
  // rounds them: 8.75 -> 9, 297.5 -> 298.
  EXPECT_EQ(std::vector<int>({bar->x, bar->y, bar->width, bar->height}),
            std::vector<int>({9, 28, 298, 24}));
  EXPECT_EQ(bar->font, dialog.font);
  EXPECT_EQ(bar->range, 0x640000);
  EXPECT_EQ(fake::W().ui.barPositions, std::vector<int>({0, 0, 25, 50, 75, 100, 0, 100, 100}));

  ASSERT_EQ(fake::W().ui.imageLoads.size(), 2u);
  for (size_t i = 0; i < 2; i++) {
    const fake::ImageLoad& load = fake::W().ui.imageLoads[i];
    EXPECT_EQ(load.instance, kInstance);
    EXPECT_EQ(load.name, 1u);
    EXPECT_EQ(load.type, static_cast<UINT>(IMAGE_ICON));
    EXPECT_EQ(load.cx, i == 0 ? 32 : 16);
    EXPECT_EQ(load.cy, load.cx);
    EXPECT_EQ(load.flags, static_cast<UINT>(LR_DEFAULTCOLOR));
  }
  EXPECT_EQ(dialog.bigIcon, reinterpret_cast<LPARAM>(fake::W().ui.imageLoads[0].result));
  EXPECT_EQ(dialog.smallIcon, reinterpret_cast<LPARAM>(fake::W().ui.imageLoads[1].result));

  ASSERT_EQ(fake::W().ui.timerCalls.size(), 1u);  // before the window shows
  for (const fake::TimerCall& call : fake::W().ui.timerCalls) {
    EXPECT_EQ(call.window, run.window);
    EXPECT_EQ(call.id, 1u);
    EXPECT_EQ(call.elapse, 0u);
    EXPECT_FALSE(call.hasProc);
  }
  EXPECT_EQ(fake::W().ui.killTimerCalls, 1u);
  EXPECT_GE(fake::W().ui.windowUpdates, 7u);  // the bar is painted after every stretch

  using Call = fake::TaskbarCall;
  std::vector<std::vector<uint64_t>> calls;
  for (const Call& call : fake::W().com.taskbarCalls) {
    EXPECT_EQ(call.window, run.window);
    calls.push_back({static_cast<uint64_t>(call.kind), call.completed, call.total,
                     static_cast<uint64_t>(call.state)});
  }
  const uint64_t value = Call::SetProgressValue, state = Call::SetProgressState;
  EXPECT_EQ(calls, (std::vector<std::vector<uint64_t>>{{state, 0, 0, TBPF_NORMAL},
                                                       {value, 0, 100, 0},
                                                       {value, 0, 100, 0},
                                                       {value, 0, 100, 0},
                                                       {value, 25, 100, 0},
                                                       {value, 50, 100, 0},
                                                       {value, 75, 100, 0},
                                                       {value, 100, 100, 0},
                                                       {value, 0, 100, 0},
                                                       {value, 100, 100, 0},
                                                       {value, 100, 100, 0}}));

  // A second run registers the class again (which fails) and still works.
  EXPECT_EQ(Run(files_), 1);
  EXPECT_EQ(fake::W().ui.classes.size(), 1u);
}

TEST_F(RunProgressDialogTest, WorksTheSameWithoutTaskbarBeforeWindows7) {
  fake::W().system.versionMajor = 6;
  fake::W().system.versionMinor = 0;
  taskbar_ = TaskbarProgress_Create();
  EXPECT_EQ(taskbar_, nullptr);
  OpenFiles(files_);
  EXPECT_EQ(Run(files_), 1);
  EXPECT_EQ(fake::W().ui.barPositions, std::vector<int>({0, 0, 25, 50, 75, 100, 0, 100, 100}));
  EXPECT_TRUE(fake::W().com.creates.empty());
  EXPECT_TRUE(fake::W().com.taskbarCalls.empty());
}

TEST_F(RunProgressDialogTest, RetryAfterAFailedWriteGoesOnWithTheSameFile) {
  OpenFiles(files_);
  fake::W().faults.diskSpace = 700000;
  fake::W().ui.messageBoxAnswers = {IDRETRY};
  // Room again once the user has been asked.
  fake::W().ui.beforeMessage = [](HWND) {
    if (!fake::W().ui.messageBoxes.empty()) fake::W().faults.diskSpace.reset();
  };
  EXPECT_EQ(Run(files_), 1);
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 1u);
  const fake::MessageBoxCall& box = fake::W().ui.messageBoxes[0];
  EXPECT_EQ(box.text, "The system cannot write to the specified device (C:\\Out\\main.msi).");
  EXPECT_EQ(box.caption, kProductName);
  EXPECT_EQ(box.owner, Dialog());
  EXPECT_EQ(box.type, static_cast<UINT>(MB_ICONQUESTION | MB_RETRYCANCEL));
  EXPECT_EQ(fake::W().ui.barPositions,
            std::vector<int>({0, 0, 25, 50, 75, 75, 100, 0, 100, 100}));
  EXPECT_EQ(fake::FileData(files_.item(0).path), files_.content(0));
  EXPECT_EQ(fake::FileData(files_.item(1).path), files_.content(1));
}

TEST_F(RunProgressDialogTest, CancelAfterAFailedWriteEndsWith2) {
  OpenFiles(files_);
  fake::W().faults.diskSpace = 700000;
  fake::W().ui.messageBoxAnswers = {IDRETRY, IDCANCEL};
  EXPECT_EQ(Run(files_), 2);
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 2u);  // the retry failed again
  EXPECT_EQ(files_.item(0).written, 700000u);
  EXPECT_NE(files_.item(0).handle, nullptr);  // left for the clean-up
}

// The timer cannot be started, at the start or after a step: Retry tries
// again, Cancel ends the dialog with 2.
struct TimerFault {
  const char* name;
  bool atStart;
  int answer;
  int result;
};

void PrintTo(const TimerFault& value, std::ostream* out) { *out << value.name; }

class TimerFaultTest : public RunProgressDialogTest,
                       public ::testing::WithParamInterface<TimerFault> {};

TEST_P(TimerFaultTest, AsksRetryOrCancel) {
  OpenFiles(files_);
  fake::W().ui.waiting = QS_MOUSEMOVE;  // the timer drives every step
  if (GetParam().atStart) {
    fake::W().ui.failSetTimer = 2;
  } else {
    fake::W().ui.beforeMessage = [](HWND) {
      if (fake::W().ui.timerCalls.size() == 3) fake::W().ui.failSetTimer = 2;
    };
  }
  fake::W().ui.messageBoxAnswers = {IDRETRY, GetParam().answer};
  EXPECT_EQ(Run(files_), GetParam().result);
  ASSERT_EQ(fake::W().ui.messageBoxes.size(), 2u);
  const fake::MessageBoxCall& box = fake::W().ui.messageBoxes[0];
  EXPECT_EQ(box.text, "Insufficient system resources exist to complete the requested service.");
  EXPECT_EQ(box.caption, kProductName);
  EXPECT_EQ(box.owner, Dialog());
  EXPECT_EQ(box.type, static_cast<UINT>(MB_ICONQUESTION | MB_RETRYCANCEL));
  if (GetParam().result == 1) {
    EXPECT_EQ(fake::FileData(files_.item(1).path), files_.content(1));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TimerFaultTest,
    ::testing::Values(TimerFault{"RetryAtStart", true, IDRETRY, 1},
                      TimerFault{"CancelAtStart", true, IDCANCEL, 2},
                      TimerFault{"RetryAfterAStep", false, IDRETRY, 1},
                      TimerFault{"CancelAfterAStep", false, IDCANCEL, 2}),
    [](const ::testing::TestParamInfo<TimerFault>& info) { return info.param.name; });

// While input or painting waits in the queue, the writer goes on by the
// timer, which comes after them; when nothing waits, or a message cannot be
// posted, by the timer as well.
TEST_F(RunProgressDialogTest, InputWaitingGoesOnByTheTimer) {
  for (int how = 0; how < 3; how++) {
    SCOPED_TRACE(how);
    if (how > 0) SetUp();
    TestJob files({{"main.msi", Content(4 * BLOCK_CONTENT_SLICE, 1)}}, StoredBlock, SOURCE_SIGNED);
    OpenFiles(files);
    if (how == 0) fake::W().ui.waiting = QS_MOUSEMOVE;
    if (how == 1) fake::W().ui.waiting = QS_PAINT;
    if (how == 2) fake::W().ui.failPostMessage = true;
    EXPECT_EQ(Run(files), 1);
    EXPECT_EQ(fake::FileData(files.item(0).path), files.content(0));
    std::vector<UINT> expected = {WM_INITDIALOG, WM_PAINT};
    expected.insert(expected.end(), 5, WM_TIMER);
    EXPECT_EQ(fake::W().ui.dialogs.back().delivered, expected);
    EXPECT_EQ(fake::W().ui.timerCalls.size(), 5u);
  }
}

// With a clock that moves as it does, the writer works for a stretch of time
// per message rather than a step: a small package is written and verified
// before the window shows, and the window then stays up long enough to be
// seen.
TEST_F(RunProgressDialogTest, SmallPackageIsWrittenBeforeTheWindowShowsWhichThenStays) {
  fake::W().system.tickStep = 1;
  OpenFiles(files_);
  fake::W().ui.beforeMessage = [this](HWND) {
    // The files are complete, and held, before the first timer message.
    for (int32_t i = 0; i < files_.job()->count; i++) EXPECT_TRUE(files_.item(i).held) << i;
  };
  EXPECT_EQ(Run(files_), 1);
  EXPECT_EQ(fake::FileData(files_.item(0).path), files_.content(0));
  EXPECT_EQ(fake::FileData(files_.item(1).path), files_.content(1));
  EXPECT_EQ(fake::W().ui.dialogs[0].delivered,
            (std::vector<UINT>{WM_INITDIALOG, WM_PAINT, WM_TIMER}));
  ASSERT_EQ(fake::W().ui.timerCalls.size(), 1u);
  EXPECT_EQ(fake::W().ui.timerCalls[0].elapse, 250u);
  EXPECT_EQ(fake::W().ui.barPositions.back(), 100);
}

// Each timer message writes for about 25 ms: a larger package takes a few
// messages, each doing several steps, whatever the size of the files.
TEST_F(RunProgressDialogTest, EachTimerMessageWritesForAStretchOfTime) {
  fake::W().system.tickStep = 10;
  TestJob files({{"main.msi", Content(40 * BLOCK_CONTENT_SLICE, 3)}}, StoredBlock, SOURCE_SIGNED);
  OpenFiles(files);
  EXPECT_EQ(Run(files), 1);
  EXPECT_EQ(fake::FileData(files.item(0).path), files.content(0));
  // 41 steps: 10 before the window shows, then 3 per message.
  const size_t timers = fake::W().ui.dialogs[0].delivered.size() - 2;
  EXPECT_GE(timers, 10u);
  EXPECT_LE(timers, 13u);
}

// A block that fails ends the dialog with 4 and the job says why; found
// before the window shows, no window ever appears.
TEST_F(RunProgressDialogTest, BlockThatFailsEndsWith4) {
  TestJob files({{"main.msi", Content(1000, 3)}}, [](uint32_t id, const std::vector<uint8_t>& c) {
    return RawBlock(FILE_BLOCK_KIND_BYTES, id, ZlibStream(c), BlockSignature(StrangerKey(), c));
  });
  fake::W().system.tickStep = 1;
  OpenFiles(files);
  EXPECT_EQ(Run(files), 4);
  EXPECT_EQ(files.job()->failure.location, static_cast<uint32_t>(LOC_FILE_BAD_SIGNATURE));
  EXPECT_EQ(fake::W().ui.dialogs[0].delivered, (std::vector<UINT>{WM_INITDIALOG}));
  EXPECT_TRUE(fake::W().ui.messageBoxes.empty());
  EXPECT_TRUE(fake::W().ui.timers.empty());
}

TEST_F(RunProgressDialogTest, WindowThatCannotHoldItsJobEndsWith3) {
  OpenFiles(files_);
  fake::W().ui.failUserData = true;
  EXPECT_EQ(Run(files_), 3);
  EXPECT_TRUE(fake::W().ui.timerCalls.empty());
  EXPECT_EQ(files_.item(0).written, 0u);
}

TEST_F(RunProgressDialogTest, LastErrorLeftOverFromEarlierIsNotTakenForAFailedStore) {
  OpenFiles(files_);
  fake::W().lastError = ERROR_ACCESS_DENIED;
  EXPECT_EQ(Run(files_), 1);
}

TEST_F(RunProgressDialogTest, NoTemplateMemoryOrNoWindowGivesMinus1) {
  OpenFiles(files_);
  fake::W().memory.failAllocations = {fake::W().memory.allocationCalls + 1};
  EXPECT_EQ(Run(files_), -1);
  EXPECT_TRUE(fake::W().ui.dialogs.empty());

  uint32_t allocations = fake::W().memory.liveAllocations;
  fake::W().ui.failDialog = true;
  EXPECT_EQ(Run(files_), -1);
  EXPECT_EQ(fake::W().memory.liveAllocations, allocations);
  EXPECT_EQ(files_.item(0).written, 0u);
}

}  // namespace
