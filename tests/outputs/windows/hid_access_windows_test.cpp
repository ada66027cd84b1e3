#include "outputs/hid_access.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "tests/outputs/windows/stand_in.h"

namespace glimmerix {
namespace {

using testing::HidStandIn;
using testing::kPid;
using testing::kVid;
using Bytes = std::vector<unsigned char>;

TEST(HidAccessWindows, FindsTheMatchingInterfacesOpensSharedOverlappedAndWritesTheReport) {
  HidStandIn stand_in;
  stand_in.Plug(0, 0x046D, kPid);  // another vendor's device
  stand_in.Plug(1, kVid, kPid, 0x100);
  stand_in.Plug(2, kVid, kPid, 0x200);
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid), 1);
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid | 0x10000, -1, 1), 1) << "only the low 16 bits count";
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid, -1, 2), 0);
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid, 0x300), 0);
  EXPECT_EQ(HidAccess_DeviceExists(kPid, 0x1234), 0);

  std::string node;
  const HidHandle second = HidAccess_OpenDevice(kPid, kVid, 0x200, 0, nullptr, &node);
  ASSERT_NE(second, 0);
  EXPECT_EQ(node, "\\\\?\\hid#standin#2");
  const HidHandle first = HidAccess_OpenDevice(kPid, kVid, -1, 0, nullptr, &node);
  ASSERT_NE(first, 0);
  EXPECT_EQ(node, "\\\\?\\hid#standin#1");

  int error = -1;
  const unsigned char report[2] = {0x00, 0x41};
  EXPECT_EQ(HidAccess_Write(first, report, 2, &error), 2);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(stand_in.Received(1), (Bytes{0x00, 0x41}));
  EXPECT_EQ(stand_in.Received(2), Bytes{});
  EXPECT_EQ(stand_in.LastWriteShare(), unsigned(FILE_SHARE_READ | FILE_SHARE_WRITE));
  EXPECT_NE(stand_in.LastWriteFlags() & FILE_FLAG_OVERLAPPED, 0u);

  EXPECT_EQ(HidAccess_Write(first, report, 0, &error), 0);
  EXPECT_EQ(HidAccess_Write(0, report, 2, &error), 0);
  EXPECT_EQ(HidAccess_Close(first), 0);
  EXPECT_EQ(HidAccess_Close(second), 0);
  EXPECT_EQ(HidAccess_Close(0), 0);
  EXPECT_EQ(stand_in.OpenHandles(), 0) << "the handles that only read attributes are closed too";
}

TEST(HidAccessWindows, AnInterfaceThatRefusesIsPassedOverAndTheLastRefusalDescribed) {
  HidStandIn stand_in;
  stand_in.Plug(1);
  stand_in.Plug(3);
  stand_in.Refuse(1, true);
  std::string node;
  HidOpenFailure failure;
  const HidHandle opened = HidAccess_OpenDevice(kPid, kVid, -1, 0, &failure, &node);
  ASSERT_NE(opened, 0);
  EXPECT_EQ(node, "\\\\?\\hid#standin#3") << "the refusing interface is not counted";
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid), 1) << "but it is present";
  HidAccess_Close(opened);

  stand_in.Refuse(3, true);
  EXPECT_EQ(HidAccess_OpenDevice(kPid, kVid, -1, 0, &failure), 0);
  EXPECT_EQ(failure.node, "\\\\?\\hid#standin#3");
  EXPECT_TRUE(failure.access_denied);
  EXPECT_EQ(failure.error, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(failure.reason.empty());
  EXPECT_EQ(stand_in.OpenHandles(), 0);
}

TEST(HidAccessWindows, AWriteNotTakenTimesOutCancelledAndAnUnplugMidWriteReadsAsGone) {
  HidStandIn stand_in;
  stand_in.Plug(0);
  const HidHandle handle = HidAccess_OpenDevice(kPid, kVid);
  ASSERT_NE(handle, 0);
  const unsigned char report[2] = {0x00, 0x80};
  stand_in.Hold(0, true);
  int error = 0;
  EXPECT_EQ(HidAccess_Write(handle, report, 2, &error, 30), 0);
  EXPECT_EQ(error, ETIMEDOUT);
  EXPECT_EQ(stand_in.PendingWrites(), 0) << "a write not taken in time is cancelled";
  EXPECT_EQ(stand_in.Received(0), Bytes{});

  int sent = -1;
  std::thread writer([&] { sent = HidAccess_Write(handle, report, 2, &error, -1); });
  ASSERT_TRUE(stand_in.WaitPending(1));
  stand_in.Unplug(0);
  writer.join();
  EXPECT_EQ(sent, 0);
  EXPECT_EQ(error, ENODEV);
  EXPECT_EQ(HidAccess_Write(handle, report, 2, &error), 0);
  EXPECT_EQ(error, ENODEV) << "a write after the unplug fails the same way";
  EXPECT_EQ(HidAccess_Close(handle), 0);
}

}  // namespace
}  // namespace glimmerix
