#include "extraction/taskbar_progress.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/fake/fake.h"

namespace {

const GUID kClsidTaskbarList = {0x56FDF344, 0xFD6D, 0x11D0,
                                {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
const GUID kIidTaskbarList3 = {0xEA1AFB91, 0x9E28, 0x4B86,
                               {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};
const HWND kWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));

class TaskbarProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::Reset();
    CoInitialize(nullptr);  // as the launcher does before
  }
  void TearDown() override {
    CoUninitialize();
    EXPECT_EQ(fake::W().com.initialized, 0);
    EXPECT_EQ(fake::W().memory.liveAllocations, 0u);
    EXPECT_EQ(fake::W().com.liveObjects, 0);
  }
};

struct Version {
  DWORD major, minor;
  bool taskbar;
};

void PrintTo(const Version& value, std::ostream* out) {
  *out << value.major << "." << value.minor;
}

class TaskbarVersionTest : public TaskbarProgressTest,
                           public ::testing::WithParamInterface<Version> {};

TEST_P(TaskbarVersionTest, ExistsFromWindows7On) {
  fake::W().system.versionMajor = GetParam().major;
  fake::W().system.versionMinor = GetParam().minor;
  TaskbarProgress* progress = TaskbarProgress_Create();
  EXPECT_EQ(progress != nullptr, GetParam().taskbar);
  if (progress) {
    EXPECT_NE(progress->taskbar, nullptr);
    ASSERT_EQ(fake::W().com.creates.size(), 1u);
    const fake::CreateInstanceCall& call = fake::W().com.creates[0];
    EXPECT_EQ(memcmp(&call.clsid, &kClsidTaskbarList, sizeof(GUID)), 0);
    EXPECT_EQ(memcmp(&call.iid, &kIidTaskbarList3, sizeof(GUID)), 0);
    EXPECT_EQ(call.context, 7u);
    EXPECT_FALSE(call.hasOuter);
  } else {
    EXPECT_TRUE(fake::W().com.creates.empty());
  }
  TaskbarProgress_Destroy(progress);
}

INSTANTIATE_TEST_SUITE_P(Versions, TaskbarVersionTest,
                         ::testing::Values(Version{5, 2, false}, Version{6, 0, false},
                                           Version{6, 1, true}, Version{6, 3, true},
                                           Version{10, 0, true}),
                         [](const ::testing::TestParamInfo<Version>& info) {
                           return "Windows" + std::to_string(info.param.major) + "_" +
                                  std::to_string(info.param.minor);
                         });

TEST_F(TaskbarProgressTest, PassesStateAndValuesToTheShellInOrder) {
  TaskbarProgress* progress = TaskbarProgress_Create();
  ASSERT_NE(progress, nullptr);
  TaskbarProgress_SetWindow(progress, kWindow);
  TaskbarProgress_SetState(progress, true);
  TaskbarProgress_SetTotal(progress, 100);
  TaskbarProgress_SetCompleted(progress, 40);
  TaskbarProgress_SetState(progress, false);
  TaskbarProgress_Destroy(progress);

  using Call = fake::TaskbarCall;
  std::vector<std::vector<uint64_t>> calls;
  for (const Call& call : fake::W().com.taskbarCalls) {
    if (call.kind != Call::Release) {
      EXPECT_EQ(call.window, kWindow);
    }
    calls.push_back({static_cast<uint64_t>(call.kind), call.completed, call.total,
                     static_cast<uint64_t>(call.state)});
  }
  const uint64_t value = Call::SetProgressValue, state = Call::SetProgressState;
  EXPECT_EQ(calls, (std::vector<std::vector<uint64_t>>{{state, 0, 0, TBPF_NORMAL},
                                                       {value, 0, 100, 0},
                                                       {value, 40, 100, 0},
                                                       {state, 0, 0, TBPF_NOPROGRESS},
                                                       {Call::Release, 0, 0, 0}}));
}

TEST_F(TaskbarProgressTest, WithoutComTheObjectExistsAndDoesNothing) {
  fake::W().com.failCreate = E_FAIL;
  TaskbarProgress* progress = TaskbarProgress_Create();
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(progress->taskbar, nullptr);
  TaskbarProgress_SetWindow(progress, kWindow);
  TaskbarProgress_SetState(progress, true);
  TaskbarProgress_SetTotal(progress, 100);
  TaskbarProgress_SetCompleted(progress, 5);
  EXPECT_EQ(progress->completed, 5u);
  TaskbarProgress_Destroy(progress);
  EXPECT_TRUE(fake::W().com.taskbarCalls.empty());
}

TEST_F(TaskbarProgressTest, NoMemoryGivesNullAndEveryOperationAcceptsNull) {
  fake::W().memory.failAllocations = {1};
  EXPECT_EQ(TaskbarProgress_Create(), nullptr);
  TaskbarProgress_SetWindow(nullptr, kWindow);
  TaskbarProgress_SetState(nullptr, true);
  TaskbarProgress_SetTotal(nullptr, 100);
  TaskbarProgress_SetCompleted(nullptr, 1);
  TaskbarProgress_Destroy(nullptr);
  EXPECT_TRUE(fake::W().com.creates.empty());
}

}  // namespace
