// handvane-service: the reference delivery service.
//
//   handvane-service --config FILE                       run the three servers until SIGINT/SIGTERM
//   handvane-service --config FILE add-account PHONE PASSWORD
//   handvane-service --config FILE remove-account PHONE
//   handvane-service --config FILE set-password PHONE PASSWORD
//   handvane-service --config FILE list-accounts
//   handvane-service --config FILE list-messages
//   handvane-service --config FILE show-message ID
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/gbk.h"
#include "service-server/gateway/gateway.h"
#include "service-server/server.h"
#include "service-server/web/site.h"

namespace {

using hv::service::Store;

constexpr const char* kUsage =
    "usage: handvane-service --config FILE [COMMAND]\n"
    "  (no command)                 run the region, authentication and send servers\n"
    "  add-account PHONE PASSWORD   create an account\n"
    "  remove-account PHONE         delete an account\n"
    "  set-password PHONE PASSWORD  change an account's password\n"
    "  list-accounts                print the accounts' phone numbers\n"
    "  list-messages                print one line per received message\n"
    "  show-message ID              print a received message decoded\n";

int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// Texts on the wire are GBK; the terminal gets UTF-8 (bytes that are not GBK are escaped).
std::string shown(const std::string& gbk) {
  return hv::gbkToUtf8Escaped(gbk);
}

std::string hex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

bool validPhone(const std::string& phone) {
  return !phone.empty() && phone.size() <= hv::svc::kMaxUserIdLength &&
         phone.find('\0') == std::string::npos;
}

void printMessage(const hv::service::StoredMessage& m, bool full) {
  char when[32];
  std::time_t t = std::time_t(m.receivedAt);
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::gmtime(&t));
  std::string to;
  for (const auto& r : m.recipients) to += (to.empty() ? "" : ",") + shown(r);
  std::printf("%lld %s user=%s to=%s service=%s class=%s kind=%s bytes=%zu\n",
              static_cast<long long>(m.id), when, shown(m.user).c_str(), to.c_str(),
              shown(m.serviceCode).c_str(), shown(m.contentClass).c_str(),
              shown(m.contentKind).c_str(), m.packet.size());
  if (!full) return;
  std::printf("sender: %s\nmodel: %s\ncontent type: %s\nattachment type: %d\n",
              shown(m.sender).c_str(), shown(m.model).c_str(), shown(m.contentType).c_str(),
              m.attachmentType);
  for (size_t i = 0; i < m.texts.size(); ++i)
    std::printf("text %zu (%zu bytes): %s\n", i + 1, m.texts[i].size(), shown(m.texts[i]).c_str());
  auto decoded = hv::svc::decodeMessagePacket(m.packet);
  if (decoded.packet) {
    if (!decoded.packet->texts.empty()) return;
    std::printf("content: %zu bytes\n", decoded.packet->content.size());
    for (size_t i = 0; i < decoded.packet->shortMessages.size(); ++i)
      std::printf("short message %zu: %s\n", i + 1, hex(decoded.packet->shortMessages[i]).c_str());
    if (decoded.packet->attachmentType == 1)
      std::printf("attachment file: %zu bytes\n", decoded.packet->attachment.size());
  }
}

int run(const hv::service::ServiceConfig& config, const hv::service::WebConfig& webConfig,
        const hv::service::GatewayConfig& gatewayConfig, Store& store) {
  // Signals are taken by sigwait below, not by whichever thread they land on.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // Short messages are queued for the gateway with their message (before the servers start).
  std::unique_ptr<hv::service::SmsGateway> gateway;
  if (gatewayConfig.enabled())
    store.setOutbound(hv::service::shortMessagesOf, [&gateway] {
      if (gateway) gateway->wake();
    });
  hv::service::DeliveryService service(config, store);
  std::string error;
  if (!service.start(error)) {
    std::fprintf(stderr, "handvane-service: %s\n", error.c_str());
    return 1;
  }
  hv::service::WebSite site(webConfig, store);
  if (webConfig.enabled && !site.start(error)) {
    std::fprintf(stderr, "handvane-service: %s\n", error.c_str());
    service.stop();
    return 1;
  }
  if (gatewayConfig.enabled()) {
    gateway = std::make_unique<hv::service::SmsGateway>(gatewayConfig, store,
                                                        webConfig.enabled ? site.base() : "");
    gateway->start();
  }
  std::printf("handvane-service: region %s:%d auth %s:%d send %s:%d data %s",
              config.bindAddress.c_str(), service.regionPort(), config.bindAddress.c_str(),
              service.authPort(), config.bindAddress.c_str(), service.sendPort(),
              config.dataFolder.c_str());
  if (webConfig.enabled) std::printf(" web %s:%d", webConfig.bindAddress.c_str(), site.port());
  std::printf("\n");
  if (webConfig.enabled)
    std::printf("handvane-service: web site %s (virtual phones at %sphone/)\n", site.base().c_str(),
                site.base().c_str());
  std::fflush(stdout);
  int sig = 0;
  sigwait(&signals, &sig);
  site.stop();
  if (gateway) gateway->stop();
  service.stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string configPath;
  if (args.size() >= 2 && args[0] == "--config") {
    configPath = args[1];
    args.erase(args.begin(), args.begin() + 2);
  } else {
    return usage();
  }
  if (!hv::fs::exists(configPath)) {
    std::fprintf(stderr, "handvane-service: no configuration file %s\n", configPath.c_str());
    return 1;
  }
  auto config = hv::service::loadConfig(configPath);
  if (!hv::fs::makeDirectories(config.dataFolder)) {
    std::fprintf(stderr, "handvane-service: cannot create data folder %s\n",
                 config.dataFolder.c_str());
    return 1;
  }
  std::string error;
  auto store = hv::service::openStore(config, error);
  if (!store) {
    std::fprintf(stderr, "handvane-service: cannot open the database: %s\n", error.c_str());
    return 1;
  }

  if (args.empty())
    return run(config,
               hv::service::loadWebConfig(configPath, config.bindAddress, config.dataFolder),
               hv::service::loadGatewayConfig(configPath), *store);
  const std::string& command = args[0];
  auto need = [&](size_t n) { return args.size() == n + 1; };
  if (command == "add-account" && need(2)) {
    if (!validPhone(args[1]))
      return std::fputs("phone number must have 1 to 19 bytes\n", stderr), 1;
    if (!store->addAccount(args[1], args[2]))
      return std::fputs("account exists already\n", stderr), 1;
    return 0;
  }
  if (command == "remove-account" && need(1)) {
    if (!store->removeAccount(args[1])) return std::fputs("no such account\n", stderr), 1;
    return 0;
  }
  if (command == "set-password" && need(2)) {
    if (!store->setPassword(args[1], args[2])) return std::fputs("no such account\n", stderr), 1;
    return 0;
  }
  if (command == "list-accounts" && need(0)) {
    for (const auto& a : store->accounts()) std::printf("%s\n", a.c_str());
    return 0;
  }
  if (command == "list-messages" && need(0)) {
    for (const auto& m : store->messages()) printMessage(m, false);
    return 0;
  }
  if (command == "show-message" && need(1)) {
    auto found = store->messages(std::atoll(args[1].c_str()));
    if (found.empty()) return std::fputs("no such message\n", stderr), 1;
    printMessage(found[0], true);
    return 0;
  }
  return usage();
}
