#include "outputs/usb_controller.h"

#include <cerrno>
#include <condition_variable>
#include <cstdio>

namespace glimmerix {

using Clock = std::chrono::steady_clock;

struct UsbController::Link {
  std::mutex mutex;                 // guards every member below
  std::condition_variable wake;     // for the writer: a report queued, or stop
  std::condition_variable written;  // for WaitWritten: the queue empty and no write in progress

  HidHandle handle = 0;             // the open controller; reports go here
  HidHandle writing = 0;            // the handle a write is in progress on, 0 when none
  bool close_when_written = false;  // `writing` was let go meanwhile: the writer closes it
  Clock::time_point writing_since;
  std::array<std::uint8_t, 3> report{};            // report number, command byte being queued
  std::array<std::uint8_t, kQueueLength> queue{};  // command bytes, oldest at head
  int head = 0;
  int count = 0;
  bool closed = false;   // switched off: nothing more is queued
  bool stop = false;     // the writer ends
  bool lost = false;     // a write found the open device gone (ENODEV)
  bool stalled = false;  // the device is not answering
  int timeouts_in_row = 0;
  unsigned prompt_writes = 0;  // reports taken within kWriteWaitMs since the last stall
  unsigned all_off_taken = 0;  // all-off reports written whole (queued once closed)
  unsigned dropped = 0;

  void Drop() {
    dropped += static_cast<unsigned>(count);
    count = 0;
  }

  void ClearStall() {
    stalled = false;
    timeouts_in_row = 0;
    prompt_writes = 0;
  }

  // Whether the device is not answering, counting a write in progress for kStuckWrite as that.
  bool Stalled(Clock::time_point now) {
    if (!stalled && writing != 0 && now - writing_since >= kStuckWrite) {
      stalled = true;
      Drop();
    }
    return stalled;
  }

  // The report as it stands, for the writer, unless the device is closed, absent or not
  // answering (then dropped and counted).
  void QueueReport() {
    if (closed || handle == 0) return;
    if (Stalled(Clock::now())) {
      ++dropped;
      return;
    }
    Queue(report[1]);
  }

  void Queue(std::uint8_t command) {
    if (count == kQueueLength) {
      ++dropped;
      return;
    }
    queue[(head + count) % kQueueLength] = command;
    ++count;
    wake.notify_one();
  }

  // The writer thread: one report at a time, in order, with no lock held across the write.
  void Run() {
    std::unique_lock lock(mutex);
    while (true) {
      wake.wait(lock, [&] { return stop || (count > 0 && handle != 0); });
      if (stop) break;
      const std::array<std::uint8_t, 2> bytes{report[0], queue[head]};
      head = (head + 1) % kQueueLength;
      --count;
      const HidHandle fd = handle;
      const bool all_off = closed;
      const auto started = Clock::now();
      writing = fd;
      writing_since = started;
      lock.unlock();
      int error = 0;
      const int sent = HidAccess_Write(fd, bytes.data(), 2, &error, kWriteWaitMs);
      const auto took = Clock::now() - started;
      lock.lock();
      writing = 0;
      if (sent == 2 && all_off) ++all_off_taken;
      if (sent == 2) {
        timeouts_in_row = 0;
        if (took <= std::chrono::milliseconds(kWriteWaitMs)) ++prompt_writes;
      } else if (error == ETIMEDOUT) {
        ++timeouts_in_row;  // not taken at all
        ++dropped;
      } else {
        ++dropped;
        if (error == ENODEV) {
          lost = true;
          Drop();
        }
      }
      if (!stalled && (timeouts_in_row >= kTimeoutsBeforeStall || took >= kStuckWrite)) {
        stalled = true;
        Drop();
      }
      HidHandle let_go = 0;
      if (close_when_written) {
        close_when_written = false;
        let_go = fd;
      }
      if (count == 0) written.notify_all();
      if (let_go != 0) {
        lock.unlock();
        HidAccess_Close(let_go);
        lock.lock();
      }
    }
    const HidHandle left = handle;
    handle = 0;
    lock.unlock();
    HidAccess_Close(left);
  }
};

UsbController::UsbController(ControllerPresenceListener& listener)
    : listener_(listener), link_(std::make_shared<Link>()) {
  writer_ = std::thread([link = link_] { link->Run(); });
}

UsbController::~UsbController() {
  bool stuck;
  {
    std::lock_guard lock(link_->mutex);
    link_->stop = true;
    stuck = link_->writing != 0;
  }
  link_->wake.notify_one();
  // A writer in a write that may never return keeps the link alive by itself.
  if (stuck)
    writer_.detach();
  else
    writer_.join();
}

int UsbController::CheckPresence() {
  bool lost;
  {
    std::lock_guard lock(link_->mutex);
    if (link_->closed) return 0;
    lost = link_->lost;
    link_->lost = false;
  }
  // A write found the open device gone: count it as a loss even when the controller is already
  // back under the same identifiers (a fast replug, a USB reset after resume), so it is reopened.
  if (lost && was_present_ == 1) Lose();
  const int present = HidAccess_DeviceExists(USB_PID.load(), USB_VID.load());
  if (present == was_present_) {
    if (present == 1 && open_retries_left_ > 0) {
      --open_retries_left_;
      Open();
    } else if (present == 1 && trouble_ != Trouble::kCannotOpen) {
      CheckAnswering();
    }
    return 0;
  }
  if (present == 0) {
    Lose();
    return 0;
  }
  was_present_ = 1;
  CloseHandle();
  open_retries_left_ = kOpenRetries;
  stall_reported_ = false;
  Open();
  if (lost_before_ == 1) {
    lost_before_ = 0;
    listener_.ControllerReturned();
  }
  return 0;
}

void UsbController::CheckAnswering() {
  bool stalled, writer_free;
  unsigned prompt;
  {
    std::lock_guard lock(link_->mutex);
    if (link_->handle == 0) return;
    stalled = link_->Stalled(Clock::now());
    writer_free = link_->writing == 0;
    prompt = link_->prompt_writes;
  }
  if (stalled) {
    if (trouble_ != Trouble::kNotAnswering) {
      ReportNotAnswering();
      stall_retry_in_ = kStallRetryChecks;
    } else if (--stall_retry_in_ <= 0 && writer_free) {
      std::lock_guard lock(link_->mutex);
      link_->ClearStall();
      stall_retry_in_ = kStallRetryChecks;
    }
  } else if (trouble_ == Trouble::kNotAnswering && prompt > 0) {
    ReportArrived();
    listener_.ControllerReturned();  // its settings were dropped with the rest, perhaps
  }
}

void UsbController::LookFor(int vid, int pid) {
  USB_VID.store(vid);
  USB_PID.store(pid);
  if (was_present_ == 1) Lose();
  CheckPresence();
}

void UsbController::Lose() {
  was_present_ = 0;
  CloseHandle();
  open_retries_left_ = 0;
  SetTrouble(Trouble::kNone, {});
  lost_before_ = 1;
  listener_.ControllerLost();
}

void UsbController::CloseHandle() {
  HidHandle previous;
  {
    std::lock_guard lock(link_->mutex);
    previous = link_->handle;
    link_->handle = 0;
    link_->Drop();
    link_->ClearStall();
    if (previous != 0 && previous == link_->writing) {
      link_->close_when_written = true;
      previous = 0;
    }
    if (link_->writing == 0) link_->written.notify_all();
  }
  HidAccess_Close(previous);
}

void UsbController::Open() {
  std::string node;
  HidOpenFailure failure;
  const HidHandle opened =
      HidAccess_OpenDevice(USB_PID.load(), USB_VID.load(), -1, 0, &failure, &node);
  {
    std::lock_guard lock(link_->mutex);
    if (link_->closed) {
      HidAccess_Close(opened);
      return;
    }
    link_->handle = opened;
    link_->ClearStall();
  }
  if (opened == 0) return ReportCannotOpen(failure);
  node_ = node;
  open_retries_left_ = 0;
  ReportArrived();
}

void UsbController::ReportArrived() {
  SetTrouble(Trouble::kNone, {});
  listener_.ControllerArrived();
}

void UsbController::ReportCannotOpen(const HidOpenFailure& failure) {
  const std::string node = failure.node.empty() ? "the controller's node" : failure.node;
  std::string problem = "cannot open " + node;
  if (!failure.reason.empty()) problem += ": " + failure.reason;
  const std::string advice =
      failure.access_denied
          ? HidAccess_PermissionAdvice(USB_VID.load(), USB_PID.load())
          : "Unplug the controller and plug it in again; see README.md, \"USB controller "
            "permissions\".";
  SetTrouble(Trouble::kCannotOpen, problem);
  listener_.ControllerInTrouble(ControllerPresenceListener::Trouble::kCannotOpen, problem, advice);
  if (open_retries_left_ == 0 && !failure.node.empty() && !open_failure_reported_) {
    open_failure_reported_ = true;
    std::fprintf(stderr,
                 "glimmerix: the USB lighting controller is present but %s cannot be opened for "
                 "writing: %s. Install the udev rule for the controller (see README.md, \"USB "
                 "controller permissions\") and plug the controller in again.\n",
                 failure.node.c_str(), failure.reason.c_str());
  }
}

void UsbController::ReportNotAnswering() {
  const std::string problem = node_ + " does not answer: its reports time out";
  SetTrouble(Trouble::kNotAnswering, problem);
  listener_.ControllerInTrouble(
      ControllerPresenceListener::Trouble::kNotAnswering, problem,
      "The lights no longer follow the music. Unplug the controller and plug it in again.");
  if (!stall_reported_) {
    stall_reported_ = true;
    std::fprintf(stderr,
                 "glimmerix: the USB lighting controller at %s does not answer: its reports time "
                 "out and are dropped. Unplug it and plug it in again.\n",
                 node_.c_str());
  }
}

void UsbController::SetTrouble(Trouble trouble, std::string problem) {
  trouble_ = trouble;
  std::lock_guard lock(problem_mutex_);
  problem_ = std::move(problem);
}

int UsbController::SendReport() {
  std::lock_guard lock(link_->mutex);
  link_->QueueReport();
  return 0;
}

void UsbController::SendCommand(std::uint8_t command) {
  // The command byte is set and queued under one hold of the lock: a report queued by another
  // thread in between must not take its place.
  std::lock_guard lock(link_->mutex);
  if (link_->closed) return;
  link_->report[1] = command;
  link_->QueueReport();
}

bool UsbController::WaitWritten(std::chrono::milliseconds limit) {
  std::unique_lock lock(link_->mutex);
  return link_->written.wait_for(lock, limit,
                                 [&] { return link_->count == 0 && link_->writing == 0; });
}

void UsbController::SwitchOff() {
  bool had_handle;
  {
    std::lock_guard lock(link_->mutex);
    if (link_->closed) return;
    link_->closed = true;
    had_handle = link_->handle != 0;
    if (had_handle) {
      link_->Drop();  // the all-off reports go first, whatever was still waiting
      for (std::uint8_t off : {0x00, 0x40, 0x80}) link_->Queue(off);
    }
  }
  bool delivered = true;
  if (had_handle) {
    WaitWritten(kSwitchOffWait);
    std::lock_guard lock(link_->mutex);
    delivered = link_->all_off_taken == 3;
  }
  CloseHandle();
  if (!delivered)
    std::fprintf(stderr,
                 "glimmerix: the USB lighting controller did not take the all-off reports within "
                 "%lld ms; its outputs may stay on.\n",
                 static_cast<long long>(kSwitchOffWait.count()));
}

bool UsbController::has_handle() const {
  std::lock_guard lock(link_->mutex);
  return link_->handle != 0;
}

bool UsbController::switched_off() const {
  std::lock_guard lock(link_->mutex);
  return link_->closed;
}

std::string UsbController::problem() const {
  std::lock_guard lock(problem_mutex_);
  return problem_;
}

unsigned UsbController::dropped_reports() const {
  std::lock_guard lock(link_->mutex);
  return link_->dropped;
}

}  // namespace glimmerix
