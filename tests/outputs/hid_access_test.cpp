#include "outputs/linux/hid_access.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "tests/support/fake_hid_tree.h"

namespace glimmerix {
namespace {

using namespace glimmerix::testing;  // FakeHidTree, Node, Bytes, kVid, kPid

// Which node a handle writes to: write one marker byte through it and see who got it.
int NodeOf(const FakeHidTree& tree, HidHandle handle, std::vector<int> candidates) {
  const std::uint8_t marker = 0x5A;
  EXPECT_EQ(HidAccess_Write(handle, &marker, 1), 1);
  for (int n : candidates)
    if (tree.Received(n) == Bytes{marker}) return n;
  return -1;
}

TEST(HidAccess, NothingListedFindsNothing) {
  FakeHidTree tree;
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid), 0);
  EXPECT_EQ(HidAccess_OpenDevice(kPid, kVid), 0);
  std::filesystem::remove_all(tree.root / "sys");
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid), 0);
  EXPECT_EQ(HidAccess_OpenDevice(kPid, kVid), 0);
}

TEST(HidAccess, MatchesProductFirstOnSixteenBitsAndVersion) {
  FakeHidTree tree;
  tree.Add(0, kVid, kPid, 0x0102);
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid), 1);
  EXPECT_EQ(HidAccess_DeviceExists(kVid, kPid), 0) << "product is the first argument";
  EXPECT_EQ(HidAccess_DeviceExists(kPid + 0x10000, kVid - 0x30000), 1) << "low 16 bits count";
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid, 0x0102), 1);
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid, 0x0103), 0);
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid, 0xFFFF), 1) << "0xFFFF is any version";

  tree.Add(1, 0x0001, 0x0002, 0xFFFF);
  EXPECT_EQ(HidAccess_DeviceExists(0x0002, 0x0001, -1), 1);
  tree.Add(2, 0x0003, 0x0004, -1);  // nothing above carries bcdDevice: version 0
  EXPECT_EQ(HidAccess_DeviceExists(0x0004, 0x0003, 0), 1);
  EXPECT_EQ(HidAccess_DeviceExists(0x0004, 0x0003, 0x0100), 0);

  const HidHandle h = HidAccess_OpenDevice(kPid, kVid, 0x0102);
  EXPECT_GT(h, 0);
  EXPECT_EQ(NodeOf(tree, h, {0, 1, 2}), 0);
  EXPECT_EQ(HidAccess_Close(h), 0);
}

TEST(HidAccess, UnreadableAttributesOrMissingNodeNeverMatch) {
  FakeHidTree tree;
  tree.Add(0, 0, 0, 0x0100, Node::kFile, /*hid_id=*/false);
  EXPECT_EQ(HidAccess_DeviceExists(0, 0), 0);
  EXPECT_EQ(HidAccess_OpenDevice(0, 0), 0);
  tree.Add(1, kVid, kPid, 0x0100, Node::kMissing);
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid), 0);
  EXPECT_EQ(HidAccess_OpenDevice(kPid, kVid), 0);
}

TEST(HidAccess, IndexCountsMatchesInNumericOrder) {
  FakeHidTree tree;
  tree.Add(10, kVid, kPid);
  tree.Add(5, kVid, 0x1111);
  tree.Add(2, kVid, kPid);
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid, -1, 0), 1);
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid, -1, 1), 1);
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid, -1, 2), 0);

  const HidHandle first = HidAccess_OpenDevice(kPid, kVid, -1, 0);
  const HidHandle second = HidAccess_OpenDevice(kPid, kVid, -1, 1);
  EXPECT_EQ(NodeOf(tree, first, {2, 5, 10}), 2) << "hidraw2 comes before hidraw10";
  EXPECT_EQ(NodeOf(tree, second, {5, 10}), 10);
  EXPECT_EQ(HidAccess_OpenDevice(kPid, kVid, -1, 2), 0);
  HidAccess_Close(first);
  HidAccess_Close(second);
}

TEST(HidAccess, ExaminesAtMost256Interfaces) {
  FakeHidTree tree;
  for (int n = 0; n < 255; ++n) tree.Add(n, 0x0001, 0x0001, 0x0100, Node::kMissing);
  tree.Add(255, kVid, 0xBEEF);
  tree.Add(256, kVid, kPid);
  EXPECT_EQ(HidAccess_DeviceExists(0xBEEF, kVid), 1) << "the 256th interface is examined";
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid), 0) << "the 257th is not";
  EXPECT_EQ(HidAccess_OpenDevice(kPid, kVid), 0);
}

TEST(HidAccess, NodeThatCannotBeOpenedExistsButIsPassedOverByOpen) {
  FakeHidTree tree;
  tree.Add(0, kVid, kPid, 0x0100, Node::kFolder);
  EXPECT_EQ(HidAccess_DeviceExists(kPid, kVid), 1);
  HidOpenFailure failure;
  EXPECT_EQ(HidAccess_OpenDevice(kPid, kVid, -1, 0, &failure), 0);
  EXPECT_EQ(failure.node, tree.NodePath(0).string());
  EXPECT_EQ(failure.error, EISDIR);
  EXPECT_FALSE(failure.reason.empty());

  tree.Add(1, kVid, kPid);
  const HidHandle h = HidAccess_OpenDevice(kPid, kVid, -1, 0);
  EXPECT_EQ(NodeOf(tree, h, {1}), 1) << "an interface that cannot be opened is not counted";
  HidAccess_Close(h);
}

TEST(HidAccess, WriteAndCloseRefuseNothingToWorkOn) {
  FakeHidTree tree;
  tree.Add(0, kVid, kPid);
  const HidHandle h = HidAccess_OpenDevice(kPid, kVid);
  ASSERT_GT(h, 0);
  const std::uint8_t report[2] = {0x00, 0x81};
  int error = -1;
  EXPECT_EQ(HidAccess_Write(0, report, 2, &error), 0);
  EXPECT_EQ(error, -1) << "nothing attempted, nothing stored";
  EXPECT_EQ(HidAccess_Write(h, nullptr, 2), 0);
  EXPECT_EQ(HidAccess_Write(h, report, 0), 0);
  EXPECT_EQ(HidAccess_Write(h, report, -1), 0);
  EXPECT_TRUE(tree.Received(0).empty());

  EXPECT_EQ(HidAccess_Write(h, report, 2, &error), 2);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(tree.Received(0), (Bytes{0x00, 0x81}));
  EXPECT_EQ(HidAccess_Close(h), 0);
  EXPECT_EQ(HidAccess_Write(h, report, 2, &error), 0) << "a failed write reports 0";
  EXPECT_EQ(error, EBADF);
  EXPECT_EQ(HidAccess_Close(0), 0);
}

}  // namespace
}  // namespace glimmerix
