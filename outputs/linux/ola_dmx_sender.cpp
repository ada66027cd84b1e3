#include "outputs/linux/ola_dmx_sender.h"

#include <ola/DmxBuffer.h>
#include <ola/client/StreamingClient.h>
#include <pthread.h>
#include <signal.h>

namespace glimmerix {
namespace {

class OlaDmxConnection : public DmxConnection {
 public:
  bool Connect(std::string& why) override {
    if (!sigpipe_blocked_) {
      // A write to a socket the daemon closed raises SIGPIPE in the writing thread; blocked here,
      // the write fails with EPIPE instead and the client reports the connection lost.
      sigset_t pipe;
      sigemptyset(&pipe);
      sigaddset(&pipe, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
      sigpipe_blocked_ = true;
    }
    ola::client::StreamingClient::Options options;
    options.auto_start = false;
    client_ = std::make_unique<ola::client::StreamingClient>(options);
    if (client_->Setup()) return true;
    client_.reset();
    why = "olad does not answer on 127.0.0.1:" + std::to_string(options.server_port) +
          " (is it running?)";
    return false;
  }

  bool Send(int universe, const DmxFrame& frame, std::string& why) override {
    if (!client_) {
      why = "not connected";
      return false;
    }
    buffer_.Set(frame.data(), static_cast<unsigned>(frame.size()));
    if (client_->SendDmx(static_cast<unsigned>(universe), buffer_)) return true;
    client_.reset();
    why = "olad closed the connection";
    return false;
  }

 private:
  bool sigpipe_blocked_ = false;
  std::unique_ptr<ola::client::StreamingClient> client_;
  ola::DmxBuffer buffer_;
};

}  // namespace

std::unique_ptr<DmxConnection> MakeOlaDmxConnection() {
  return std::make_unique<OlaDmxConnection>();
}

}  // namespace glimmerix
