// hvsend: the suite's sends from a terminal, on the same cores as the module dialogs (Textcore,
// Pictcore, Ringcore) and the same send and wait (Modkit through Svclink).
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>

#include "hvsend/args.h"
#include "hvsend/console.h"
#include "include/handvane/records.h"
#include "login/login_flow.h"
#include "login/login_settings.h"
#include "login/signon.h"
#ifdef HV_HAVE_FLICKCORE
#include "flash/flash.h"
#include "modules/animation/core/flickcore.h"
#endif
#include "modules/image/packing.h"
#include "modules/image/picture.h"
#include "modules/image/pipeline.h"
#include "modules/image/typechoice.h"
#include "modules/kit/sending.h"
#include "modules/music/core/ringcore.h"
#include "modules/text/core/request.h"
#include "modules/text/core/splitting.h"
#include "platform/fs.h"
#include "platform/gbk.h"
#include "service/protocol/packet.h"
#include "service/svclink.h"
#include "tables/fees/feeconfig.h"
#include "tables/friends/buddystore.h"
#include "tables/imagetypes/imgtable.h"
#include "tables/models/modelstore.h"
#include "ui/pictures/pictures.h"
#include "utils/function.h"

namespace hv::hvsend {

namespace {

// Exit codes.
enum Exit {
  kOk = 0,
  kSendFailed = 1,  // the service or the service client answered a failure
  kUsage = 2,       // a wrong command line
  kRefused = 3,     // input the cores refuse (file, text, model, type, recipient)
  kSignIn = 4,      // no sign-in
  kNotAvailable = 5,
};

const char* kUsageText = R"USAGE(usage: hvsend COMMAND [OPTIONS] [ARGUMENTS]

Commands:
  login                         sign in once and check the account (--remember keeps it)
  text TEXT...                  send a text as numbered short messages (or one flash message)
  picture FILE                  fit a picture to the phone model's picture type and send it
  ringtone FILE.mid             convert a MIDI tune to the model's ringtone format and send it
  animation FILE.swf            convert a Flash movie into GIF animations (or a comic) and send
  query-model                   ask the recipient by short message for his phone model
  friends list|add|change|delete   the user's friends table
  models                        the phone models with their picture types and ringtone format

Options:
  --to NUMBER          recipient (text: up to 10, repeat the option or use "a;b")
  --user ID --password PW      the account (else the remembered automatic sign-in)
  --region HOST:PORT   region server (else the login settings')
  --proxy TYPE://[USER:PASSWORD@]HOST:PORT   socks4 or socks5 proxy
  --model NAME         phone model name or phone type (picture, ringtone)
  --type KEY           picture type key (else chosen for the picture)
  --threshold 0-255    black-and-white level (default 100)
  --flash              text as one flash message
  --signature TEXT     signed text        --no-numbering   no "(u/n)" prefixes
  --quality 1-10       ringtone: at most this many short messages (default 3)
  --format nokia|imelody       ringtone format (else the model's)
  --channel 0-16 --tempo 0-10 --tempo-off     ringtone conversion
  --mode animation|comic       animation: GIF files of the marked range (default); comic: the
                       pictures of --frames N,N,... (frame numbers from 0) in one GIF
  --first N --last N   animation: the marked range (frames from 0; default the whole movie)
  --quality 1-100      animation: frames kept in 100 (default 25)
  --out DIR            animation --dry-run: where the GIF files go (default .)
  --tag TAG            launch tag carried in the request
  --dry-run            write what would be sent (messages as hex; --preview FILE.png for pictures)
  --json               one JSON result line on stdout
  --yes                answer yes (the add-friend offer)    --no-progress   no progress lines
  friends add|change: --number N --phone-type T --name NAME; change|delete take the index

Exit codes: 0 sent, 1 send failed, 2 usage, 3 input refused, 4 not signed in, 5 not available.

用法: hvsend 命令 [选项] [参数]
命令:
  login      登录并检查帐号（--remember 记住帐号，以后自动登录）
  text       发送文字短消息（可分多条发送，或作为闪电短信）
  picture    按手机型号转换图片并发送
  ringtone   把MIDI乐曲转换为手机铃声并发送
  animation  把Flash动画转换为GIF动画（或漫画）并发送
  query-model  发送机型询问短消息
  friends    好友列表：list 列出, add 加入, change 修改, delete 删除
  models     列出手机型号、图片类型和铃声格式
选项:
  --to 接收人手机号  --user 用户 --password 密码  --model 手机型号  --type 图片类型
  --threshold 黑白阈值  --flash 闪电短信  --signature 签名  --no-numbering 不加序号
  --quality 最多短消息条数  --proxy 代理  --dry-run 只显示要发送的内容  --json 输出JSON结果
)USAGE";

struct Run {
  Args args;
  std::shared_ptr<ConsoleBackend> console;
  bool progressOn = true;
  bool json = false;
  std::string user;  // signed in
};

std::string hex(const std::vector<uint8_t>& bytes) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (uint8_t b : bytes) {
    out += d[b >> 4];
    out += d[b & 15];
  }
  return out;
}

std::string jsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

// The result line: "key=value" pairs for people, one JSON object with --json.
class Result {
 public:
  void add(const std::string& key, const std::string& utf8) {
    fields_.push_back({key, utf8, true});
  }
  void add(const std::string& key, long long v) {
    fields_.push_back({key, std::to_string(v), false});
  }
  void list(const std::string& key, const std::vector<std::string>& items) {
    std::string j = "[";
    for (size_t i = 0; i < items.size(); ++i) j += (i ? "," : "") + jsonString(items[i]);
    lists_.push_back({key, j + "]", items});
  }
  int print(const Run& run, int code) const {
    if (run.json) {
      std::string o = "{\"exit\":" + std::to_string(code);
      for (const auto& f : fields_)
        o += ",\"" + f.key + "\":" + (f.text ? jsonString(f.value) : f.value);
      for (const auto& l : lists_) o += ",\"" + l.key + "\":" + l.json;
      if (run.console) {
        std::vector<std::string> said = run.console->said();
        std::string j = "[";
        for (size_t i = 0; i < said.size(); ++i) j += (i ? "," : "") + jsonString(said[i]);
        o += ",\"said\":" + j + "]";
      }
      std::printf("%s}\n", o.c_str());
    } else {
      std::string line = code == 0 ? "ok" : "failed";
      for (const auto& f : fields_) line += " " + f.key + "=" + f.value;
      for (const auto& l : lists_) {
        std::string joined;
        for (const auto& i : l.items) joined += (joined.empty() ? "" : ",") + i;
        line += " " + l.key + "=" + joined;
      }
      std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    return code;
  }

 private:
  struct Field {
    std::string key, value;
    bool text;
  };
  struct List {
    std::string key, json;
    std::vector<std::string> items;
  };
  std::vector<Field> fields_;
  std::vector<List> lists_;
};

int usage(const std::string& error) {
  std::fprintf(stderr, "hvsend: %s\n\n%s", error.c_str(), kUsageText);
  return kUsage;
}

int refuse(const Run& run, Result& r, const std::string& utf8) {
  std::fprintf(stderr, "hvsend: %s\n", utf8.c_str());
  r.add("error", utf8);
  return r.print(run, kRefused);
}

// GBK of a UTF-8 argument; nullopt (and a refusal) when it is not representable.
std::optional<std::string> gbkArg(const std::string& utf8) {
  return utf8ToGbk(utf8);
}

std::string utf8(std::string_view gbk) {
  return gbkToUtf8Escaped(gbk);
}

// The login settings with the command line's region server and proxy.
std::optional<login::LoginSettings> settings(const Args& a, std::string& error) {
  auto s = login::loadSettings(login::settingsPath(), true).value_or(login::defaultSettings());
  if (a.has("region")) {
    const std::string v = a.value("region");
    const size_t colon = v.rfind(':');
    const auto port =
        colon == std::string::npos ? std::nullopt : integer(v.substr(colon + 1), 1, 65535);
    if (!port || colon == 0) {
      error = "--region takes HOST:PORT";
      return std::nullopt;
    }
    copyField(s.regionHost, v.substr(0, colon));
    s.regionPort = *port;
  }
  if (a.has("proxy")) {
    // TYPE://[USER:PASSWORD@]HOST:PORT. The sign-in carries SOCKS proxies only: an HTTP proxy
    // would be passed over silently and the service reached directly, so it is refused.
    const std::string v = a.value("proxy");
    const size_t scheme = v.find("://");
    const std::string kind = scheme == std::string::npos ? "" : v.substr(0, scheme);
    std::string rest = scheme == std::string::npos ? "" : v.substr(scheme + 3);
    std::string user, password;
    if (const size_t at = rest.rfind('@'); at != std::string::npos) {
      const std::string credentials = rest.substr(0, at);
      rest = rest.substr(at + 1);
      const size_t sep = credentials.find(':');
      user = credentials.substr(0, sep);
      password = sep == std::string::npos ? "" : credentials.substr(sep + 1);
    }
    const size_t colon = rest.rfind(':');
    const auto port = colon == std::string::npos || colon == 0
                          ? std::nullopt
                          : integer(rest.substr(colon + 1), 1, 65535);
    const char* type = kind == "socks4" ? "SOCK4" : kind == "socks5" ? "SOCK5" : nullptr;
    if (!type || !port || user.size() >= sizeof s.proxyUser ||
        password.size() >= sizeof s.proxyPassword) {
      error = "--proxy takes socks4:// or socks5://[USER:PASSWORD@]HOST:PORT";
      return std::nullopt;
    }
    copyField(s.proxyType, type);
    copyField(s.proxyHost, rest.substr(0, colon));
    s.proxyPort = *port;
    copyField(s.proxyUser, user);
    copyField(s.proxyPassword, password);
  }
  return s;
}

// Signs in with the given account or the remembered automatic one.
int signIn(Run& run, Result& r) {
  std::string error;
  auto s = settings(run.args, error);
  if (!s) return usage(error);
  std::string id = run.args.value("user"), password = run.args.value("password");
  if (id.empty() && s->autoLogin) {
    id = fieldText(s->lastUserId);
    password = fieldText(s->lastPassword);
  }
  if (id.empty() || password.empty()) {
    std::fprintf(stderr,
                 "hvsend: give --user and --password (or sign in once with login --remember)\n");
    r.add("error", "not signed in");
    return r.print(run, kSignIn);
  }
  progress(run.progressOn, "signing in as " + id);
  if (!login::runLoginSequence(id, password, *s)) {
    std::fprintf(stderr, "hvsend: %s\n",
                 utf8(T("对不起，登录失败，请检查用户名和密码是否正确以及是否连接到网络")).c_str());
    r.add("error", "sign-in failed");
    return r.print(run, kSignIn);
  }
  run.user = id;
  if (run.args.has("remember")) {
    // Only the account is remembered: --region and --proxy stay this run's.
    auto saved =
        login::loadSettings(login::settingsPath(), true).value_or(login::defaultSettings());
    saved.autoLogin = 1;
    copyField(saved.lastUserId, id);
    copyField(saved.lastPassword, password);
    copyField(saved.rememberedIds, login::rememberId(fieldText(saved.rememberedIds), id));
    login::saveSettings(login::settingsPath(), saved);
  }
  return kOk;
}

// The recipients of --to: repeated options and ";" separated lists.
std::vector<std::string> recipients(const Args& a) {
  std::string joined;
  for (const auto& v : a.values("to")) joined += (joined.empty() ? "" : ";") + v;
  return textport::recipients("", joined);
}

// Sends and reports as the dialogs do: the wait for 0x401, then the result step with the
// add-friend offer for the first recipient.
int finishSend(Run& run, Result& r, int result, const std::string& first,
               const modkit::ResultTexts& texts, const std::string& phoneType) {
  r.add("result", result);
  FriendsTable* friends = FLOpen(run.user.c_str());
  const auto offer = modkit::reportResult(friends, first, result == 0, texts, phoneType);
  FLClose(friends);
  r.add("friend", modkit::describe(offer));
  return r.print(run, result == 0 ? kOk : kSendFailed);
}

bool refusedRecipient(Run& run, Result& r, const std::vector<std::string>& to, int& code) {
  const auto reasons =
      modkit::refusedRecipients(run.user.empty() ? run.args.value("user") : run.user, to);
  if (reasons.empty()) return false;
  for (const auto& reason : reasons) std::fprintf(stderr, "hvsend: %s\n", utf8(reason).c_str());
  r.add("error", utf8(reasons.front()));
  code = r.print(run, kRefused);
  return true;
}

void dumpMessages(const std::vector<std::vector<uint8_t>>& messages) {
  for (size_t i = 0; i < messages.size(); ++i) {
    std::printf("message %zu/%zu %zu %s\n", i + 1, messages.size(), messages[i].size(),
                hex(messages[i]).c_str());
  }
}

// ---- text ----

int text(Run& run) {
  Result r;
  const Args& a = run.args;
  std::string joined;
  for (const auto& p : a.plain) joined += (joined.empty() ? "" : " ") + p;
  if (joined.empty()) return usage("text needs the text to send");
  auto gbk = gbkArg(joined);
  auto signature = gbkArg(a.value("signature"));
  if (!gbk || !signature) return refuse(run, r, "the text holds characters GBK cannot carry");
  if (signature->size() > textport::kSignatureBytes)
    return refuse(run, r, "the signature is longer than 20 bytes");
  const textport::Options o{!a.has("no-numbering"), !signature->empty(), *signature};
  if (textport::cutToLimit(*gbk, o))
    return refuse(run, r, utf8(T("对不起，最多一次只能发送10条短消息！")));
  const textport::Split s = textport::split(*gbk, o);
  const auto to = recipients(a);
  if (textport::units(*gbk, s.mode) == 0)
    return refuse(run, r, utf8(T("对不起，请首先输入短消息内容！")));
  if (to.empty()) return usage("text needs --to");
  if (to.size() > size_t(textport::kMaxRecipients))
    return refuse(run, r, utf8(T("对不起，包括收件人和抄送在内最多只能同时10人")));
  if (s.count() > textport::kMaxMessages)
    return refuse(run, r, utf8(T("对不起，最多一次只能发送10条短消息！")));
  if (a.has("flash") && s.count() > 1)
    return refuse(run, r, utf8(T("对不起，闪电短信的内容不能超过70个字")));
  r.add("messages", s.count());
  r.list("to", to);
  if (a.has("dry-run")) {
    std::vector<std::vector<uint8_t>> m;
    for (const auto& t : s.messages) m.emplace_back(t.begin(), t.end());
    dumpMessages(m);
    const MessageHeader h =
        textport::buildHeader({a.value("tag"), to, a.value("user"), s.capacity, a.has("flash")});
    std::printf("header %s\n", hex(h.bytes()).c_str());
    std::printf("content %s\n", hex(textport::buildContent(s.messages)).c_str());
    return r.print(run, kOk);
  }
  if (int c = signIn(run, r)) return c;
  int code = 0;
  if (refusedRecipient(run, r, to, code)) return code;
  const MessageHeader header =
      textport::buildHeader({a.value("tag"), to, run.user, s.capacity, a.has("flash")});
  const auto content = textport::buildContent(s.messages);
  progress(run.progressOn, "sending " + std::to_string(s.count()) + " message(s)");
  const int result = modkit::sendContentAndWait(header, content, run.progressOn);
  return finishSend(run, r, result, to.front(),
                    {T("文字短消息"), T("发送成功！是否将%s加入好友列表?"),
                     T("发送失败！是否将%s加入好友列表?"), T("发送成功！"), T("发送失败！")},
                    {});
}

// ---- models ----

struct Model {
  std::string name, phoneType;  // GBK
};

// A model by its name or phone type (any case).
std::optional<Model> findModel(const std::string& utf8Name) {
  auto name = utf8ToGbk(utf8Name);
  if (!name) return std::nullopt;
  ModelList* list = PLOpen();
  std::optional<Model> found;
  for (int i = 0, n = PLGetCount(list); i < n && !found; ++i) {
    ModelRecord m{};
    if (PLGetInfo(list, i, &m) < 0) continue;
    const std::string type = fieldText(m.phonetype);
    if (fieldText(m.modelname) == *name || strcasecmp(type.c_str(), name->c_str()) == 0) {
      found = Model{fieldText(m.modelname), type};
    }
  }
  PLClose(list);
  return found;
}

std::string dataFolder() {
  return fs::resolveOrKeep(fs::suiteHome() + "DATA");
}

int models(Run& run) {
  Result r;
  std::unique_ptr<CPhone2Image> phones;
  try {
    phones = std::make_unique<CPhone2Image>(dataFolder());
  } catch (const DbfException& e) {
    return refuse(run, r, utf8(e.message()));
  }
  ModelList* list = PLOpen();
  const int n = PLGetCount(list);
  for (int i = 0; i < n; ++i) {
    ModelRecord m{};
    if (PLGetInfo(list, i, &m) < 0) continue;
    std::vector<std::string> types;
    phones->GetImageType(fieldText(m.phonetype), types);
    std::string joined;
    for (const auto& t : types) joined += (joined.empty() ? "" : ",") + t;
    const bool nokia =
        ringport::formatForPhoneType(fieldText(m.phonetype)) == ringport::Format::Nokia;
    if (!run.json) {
      std::printf("%s\t%s\t%s\t%s\n", utf8(fieldText(m.modelname)).c_str(),
                  fieldText(m.phonetype).c_str(), nokia ? "nokia" : "imelody", joined.c_str());
    }
  }
  PLClose(list);
  r.add("models", n);
  return r.print(run, kOk);
}

// ---- picture ----

int picture(Run& run) {
  Result r;
  const Args& a = run.args;
  if (a.plain.size() != 1) return usage("picture takes one picture file");
  const auto to = recipients(a);
  if (to.size() != 1 && !a.has("dry-run")) return usage("picture takes one --to");
  const auto level = integer(a.value("threshold", "100"), 0, 255);
  if (!level) return usage("--threshold takes 0 to 255");
  const auto model = findModel(a.value("model"));
  if (!model) return refuse(run, r, "unknown phone model " + a.value("model"));
  std::unique_ptr<ImageTable> images;
  std::unique_ptr<CPhone2Image> phones;
  try {
    images = std::make_unique<ImageTable>(dataFolder());
    phones = std::make_unique<CPhone2Image>(dataFolder());
  } catch (const DbfException& e) {
    return refuse(run, r, utf8(e.message()));
  }
  std::vector<std::string> keys;
  phones->GetImageType(model->phoneType, keys);
  if (keys.empty()) return refuse(run, r, utf8(T("Lumo图不支持当前手机")));
  const auto path = gbkArg(a.plain[0]);
  progress(run.progressOn, "opening " + a.plain[0]);
  auto source = path ? pictport::openPicture(*path) : std::nullopt;
  if (!source) return refuse(run, r, "cannot open the picture " + a.plain[0]);
  int index = pictport::chooseTypeIndex(*images, keys, source->picture);
  if (a.has("type")) {
    auto it = std::find(keys.begin(), keys.end(), a.value("type"));
    if (it == keys.end()) return refuse(run, r, "the model has no picture type " + a.value("type"));
    index = int(it - keys.begin());
  }
  pictport::PictureType type;
  images->GetImageTypeInfo(keys[size_t(index)], &type.info);
  type.modulePath = fs::programDirectory() + fieldText(type.info.modulepath);
  progress(run.progressOn, "fitting to " + type.key());
  pictport::Framing framing;
  const pictport::Size t = type.size();
  pictport::setupFraming(framing, pictport::workingPicture(*source, t.w, t.h), {424, 290}, t);
  std::optional<int> unsupported;
  pictport::Picture send =
      pictport::composeSendPicture(framing, type, source->kind, *level, {}, &unsupported);
  if (send.empty()) return refuse(run, r, utf8(T("请首先做好图片转换")));
  if (unsupported) {
    std::fprintf(stderr, "hvsend: %s%d\n", utf8(T("图片颜色数不被支持，颜色数为")).c_str(),
                 *unsupported);
  }
  progress(run.progressOn, "packing");
  const pictport::PackResult packed =
      pictport::pack(send, type, source->kind, CFunction::GetTempPathA());
  if (!packed.ok()) return refuse(run, r, utf8(packed.message));
  r.add("type", type.key());
  r.add("model", utf8(model->name));
  const auto bytes = fs::readFile(packed.path).value_or("");
  const std::vector<uint8_t> content(bytes.begin(), bytes.end());
  const auto messages = svc::decodePackedMessages(content);
  r.add("messages", messages ? long(messages->size()) : 1L);
  pictport::RequestFields fields{a.value("tag"), to.empty() ? "" : to.front(), a.value("user"),
                                 model->phoneType, pictport::packedExtension(packed.path)};
  if (a.has("dry-run")) {
    if (messages)
      dumpMessages(*messages);
    else
      std::printf("file %s %zu %s\n", fields.extension.c_str(), content.size(),
                  hex(content).c_str());
    std::printf("header %s\n", hex(pictport::requestHeader(type, fields).bytes()).c_str());
    fs::removeFile(packed.path);
    if (a.has("preview")) {
      Magick::Image img = send.image();
      if (!SaveImage(img, a.value("preview")))
        return refuse(run, r, "cannot write " + a.value("preview"));
      r.add("preview", a.value("preview"));
    }
    return r.print(run, kOk);
  }
  if (int c = signIn(run, r)) {
    fs::removeFile(packed.path);
    return c;
  }
  int code = 0;
  if (refusedRecipient(run, r, to, code)) {
    fs::removeFile(packed.path);
    return code;
  }
  fields.sender = run.user;
  const MessageHeader header = pictport::requestHeader(type, fields);
  progress(run.progressOn, "sending " + type.key());
  const int result = modkit::sendFileAndWait(header, packed.path, run.progressOn);
  fs::removeFile(packed.path);
  return finishSend(
      run, r, result, to.front(),
      {T("Lumo图"), T("发送图片成功！是否将%s加入好友列表?"),
       T("发送图片失败！是否将%s加入好友列表?"), T("发送图片成功！"), T("发送图片失败！")},
      model->phoneType);
}

// ---- ringtone ----

int ringtone(Run& run) {
  Result r;
  const Args& a = run.args;
  if (a.plain.size() != 1) return usage("ringtone takes one MIDI file");
  const auto to = recipients(a);
  if (to.size() != 1 && !a.has("dry-run")) return usage("ringtone takes one --to");
  const auto quality = integer(a.value("quality", "3"), 1, ringport::kMaxMessages);
  const auto channel = integer(a.value("channel", "0"), 0, 16);
  const auto tempo = integer(a.value("tempo", "5"), ringport::kTempoLow, ringport::kTempoHigh);
  if (!quality || !channel || !tempo) return usage("--quality 1-10, --channel 0-16, --tempo 0-10");
  const auto model = findModel(a.value("model"));
  if (!model) return refuse(run, r, "unknown phone model " + a.value("model"));
  ringport::ConvertRequest q;
  q.midiPath = gbkArg(a.plain[0]).value_or("");
  q.converterPath = ringport::converterIn(fs::programDirectory());
  q.channel = *channel;
  q.format = ringport::formatForPhoneType(model->phoneType);
  if (a.has("format")) {
    const std::string f = a.value("format");
    if (f != "nokia" && f != "imelody") return usage("--format takes nokia or imelody");
    q.format = f == "nokia" ? ringport::Format::Nokia : ringport::Format::IMelody;
  }
  q.tempoPosition = *tempo;
  q.tempoOff = a.has("tempo-off");
  q.maxMessages = *quality;
  q.phoneType = model->phoneType;
  progress(run.progressOn, "converting " + a.plain[0]);
  const ringport::ConvertResult c = ringport::convert(q);
  if (!c.ringtone) return refuse(run, r, utf8(ringport::describe(c.error, c.detail)));
  const ringport::Ringtone& tone = *c.ringtone;
  r.add("format", q.format == ringport::Format::Nokia ? "nokia" : "imelody");
  r.add("notes", long(tone.fittedNotes()));
  r.add("messages", long(tone.messages.size()));
  if (tone.neededMessages > 0) r.add("needed", tone.neededMessages);
  CFeeConfig fee;
  fee.Init(fs::resolveOrKeep(dataFolder() + "/confee.dll"));
  std::string feeText =
      utf8(fee.ConstructFee(ringport::contentKind(q.format), int(tone.messages.size())));
  while (!feeText.empty() && feeText.back() == '\n') feeText.pop_back();
  for (char& ch : feeText)
    if (ch == '\n') ch = ';';
  r.add("fee", feeText);
  ringport::RequestFields fields{a.value("tag"), to.empty() ? "" : to.front(), a.value("user"),
                                 model->phoneType};
  if (a.has("dry-run")) {
    dumpMessages(tone.messages);
    std::printf("header %s\n", hex(ringport::buildHeader(q.format, fields).bytes()).c_str());
    return r.print(run, kOk);
  }
  if (int code = signIn(run, r)) return code;
  int code = 0;
  if (refusedRecipient(run, r, to, code)) return code;
  fields.sender = run.user;
  progress(run.progressOn, "sending the ringtone");
  const int result = modkit::sendContentAndWait(ringport::buildHeader(q.format, fields),
                                                tone.packed, run.progressOn);
  return finishSend(
      run, r, result, to.front(),
      {T("Lumo音"), T("发送铃声成功！是否将%s加入好友列表?"),
       T("发送铃声失败！是否将%s加入好友列表?"), T("发送铃声成功！"), T("发送铃声失败！")},
      model->phoneType);
}

// ---- animation ----

#ifdef HV_HAVE_FLICKCORE
// "4,1,2": frame numbers from 0.
std::optional<std::vector<int>> frameList(const std::string& text) {
  std::vector<int> out;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    const auto n = integer(item, 0, 65535);
    if (!n) return std::nullopt;
    out.push_back(*n);
  }
  if (out.empty()) return std::nullopt;
  return out;
}

std::string sizeText() {
  return utf8(T("对不起，生成的动画大小已经超过了可以发送到手机的最大尺寸！"));
}

// Converts as the animation dialog does: the model's first animation type (or --type), the
// marked range sampled by quality into "%04d.GIF" files, or the comic of the given frames; then
// every file sent with the same header, one after the other, or the comic from memory.
int animation(Run& run) {
  Result r;
  const Args& a = run.args;
  if (a.plain.size() != 1) return usage("animation takes one SWF file");
  const auto to = recipients(a);
  if (to.size() != 1 && !a.has("dry-run")) return usage("animation takes one --to");
  const std::string mode = a.value("mode", "animation");
  if (mode != "animation" && mode != "comic") return usage("--mode takes animation or comic");
  const bool comic = mode == "comic";
  const auto quality = integer(a.value("quality", "25"), 1, 100);
  const auto first = integer(a.value("first", "0"), 0, 65535);
  const auto last = a.has("last") ? integer(a.value("last"), 0, 65535) : std::optional<int>(-1);
  if (!quality || !first || !last)
    return usage("--quality takes 1 to 100, --first and --last frame numbers from 0");
  if (*last >= 0 && *last < *first) return usage("--last comes before --first");
  std::vector<int> marks;
  if (comic) {
    auto list = frameList(a.value("frames"));
    if (!list) return usage("--mode comic needs --frames N,N,... (frame numbers from 0)");
    marks = *list;
  } else if (a.has("frames")) {
    return usage("--frames is for --mode comic");
  }
  const auto model = findModel(a.value("model", "诺基亚7650"));
  if (!model) return refuse(run, r, "unknown phone model " + a.value("model"));
  std::unique_ptr<ImageTable> images;
  std::unique_ptr<CPhone2Image> phones;
  try {
    images = std::make_unique<ImageTable>(dataFolder());
    phones = std::make_unique<CPhone2Image>(dataFolder());
  } catch (const DbfException& e) {
    return refuse(run, r, utf8(e.message()));
  }
  std::vector<std::string> all, keys;
  phones->GetImageTypeForFlash(model->phoneType, all);
  for (const auto& key : all) {
    std::string name;
    if (images->GetImageNameByType(key, name)) keys.push_back(key);
  }
  if (keys.empty()) return refuse(run, r, utf8(T("未选择手机类型，请先选择正确的手机类型！")));
  std::string key = keys.front();
  if (a.has("type")) {
    if (std::find(keys.begin(), keys.end(), a.value("type")) == keys.end())
      return refuse(run, r, "the model has no animation type " + a.value("type"));
    key = a.value("type");
  }
  IMAGETYPE_INFO info{};
  images->GetImageTypeInfo(key, &info);
  const flick::Target target = flick::targetOf(info);

  const std::string unsupported = utf8(T("对不起，转换程序不支持这个动画文件！"));
  const auto path = gbkArg(a.plain[0]);
  flick::Movie movie;
  const flick::MovieError opened =
      path ? flick::openMovie(*path, movie) : flick::MovieError::Unreadable;
  if (opened != flick::MovieError::None)
    return refuse(run, r, unsupported + " (" + flick::errorText(opened) + ")");
  flash::Player probe(1, 1);
  if (!probe.load(*path).ok()) return refuse(run, r, unsupported + " (the engine cannot load it)");
  // The engine shows a blank frame for a movie without any; there is nothing to convert.
  if (movie.header.frameCount == 0 || probe.frameCount() <= 0)
    return refuse(run, r, unsupported + " (the movie has no frames)");
  const int count = probe.frameCount();
  r.add("mode", mode);
  r.add("type", key);
  r.add("model", utf8(model->name));

  // The GIF files: into --out for a dry run, else a private folder removed after the send.
  std::string dir;
  if (a.has("dry-run")) {
    dir = a.value("out", ".");
    if (!fs::makeDirectories(dir)) return refuse(run, r, "cannot make the folder " + dir);
  } else {
    auto made = fs::createTempDirectory({}, "hvsend-flash");
    if (!made) return refuse(run, r, "cannot make a temporary folder");
    dir = *made;
  }
  if (dir.back() != '/') dir += '/';
  struct Cleanup {
    std::string dir;
    ~Cleanup() {
      if (!dir.empty()) fs::removeAll(dir);
    }
  } cleanup{a.has("dry-run") ? std::string() : dir};

  std::vector<flick::ResultFile> files;
  std::vector<std::uint8_t> comicBytes;
  const std::string renderFailed = utf8(T("对不起，本转换程序不支持该动画文件！"));
  if (comic) {
    std::vector<flick::Frame> pictures(marks.size());
    for (size_t i = 0; i < marks.size(); ++i) {
      progress(run.progressOn, "drawing frame " + std::to_string(marks[i]));
      const auto e = flick::renderOne(movie, marks[i], target.width, target.height, pictures[i]);
      if (e == flick::RenderError::NoFrames) {
        return refuse(run, r,
                      "the movie has frames 0 to " + std::to_string(count - 1) + ", no frame " +
                          std::to_string(marks[i]));
      }
      if (e != flick::RenderError::None)
        return refuse(run, r, renderFailed + " (" + flick::errorText(e) + ")");
    }
    std::vector<const flick::Frame*> in;
    for (const auto& p : pictures) in.push_back(&p);
    const auto e = flick::buildComic(in, target, comicBytes);
    if (e == graph::GifError::TooLarge) return refuse(run, r, sizeText());
    if (e != graph::GifError::None) return refuse(run, r, utf8(T("生成动画时出现错误！")));
    files.push_back({0, int(pictures.size()), comicBytes.size(), dir + "comic.gif"});
  } else {
    if (*first >= count) {
      return refuse(run, r,
                    "the movie has frames 0 to " + std::to_string(count - 1) + ", --first " +
                        std::to_string(*first) + " is past its end");
    }
    flick::RenderCallbacks cb;
    cb.begin = [&](int expected) {
      progress(run.progressOn, "rendering " + std::to_string(expected) + " frame(s)");
      return true;
    };
    std::vector<flick::Frame> frames;
    const auto e = flick::render(movie, *first, *last, flick::sampleStep(*quality), target.width,
                                 target.height, cb, frames);
    if (e != flick::RenderError::None)
      return refuse(run, r, renderFailed + " (" + flick::errorText(e) + ")");
    const auto w = flick::writeResults(frames, target, dir, files);
    if (w == graph::GifError::FrameTooLarge) return refuse(run, r, sizeText());
    if (w != graph::GifError::None || files.empty()) return refuse(run, r, renderFailed);
  }
  r.add("files", long(files.size()));
  if (a.has("dry-run")) {
    if (comic &&
        !fs::writeFileAtomic(
            files[0].path,
            std::string_view(reinterpret_cast<const char*>(comicBytes.data()), comicBytes.size())))
      return refuse(run, r, "cannot write " + files[0].path);
    for (size_t i = 0; i < files.size(); ++i) {
      std::printf("file %zu/%zu %d %zu %s\n", i + 1, files.size(), files[i].frames, files[i].bytes,
                  files[i].path.c_str());
    }
    const MessageHeader h =
        flick::requestHeader(to.empty() ? "" : to.front(), a.value("user"), model->name, key);
    std::printf("header %s\n", hex(h.bytes()).c_str());
    return r.print(run, kOk);
  }
  if (int c = signIn(run, r)) return c;
  int code = 0;
  if (refusedRecipient(run, r, to, code)) return code;
  const MessageHeader header = flick::requestHeader(to.front(), run.user, model->name, key);
  int result = 0;
  if (comic) {
    progress(run.progressOn, "sending the comic");
    result = modkit::sendContentAndWait(header, comicBytes, run.progressOn);
  } else {
    for (size_t i = 0; i < files.size() && result == 0; ++i) {
      progress(run.progressOn,
               "sending animation " + std::to_string(i + 1) + "/" + std::to_string(files.size()));
      result = modkit::sendFileAndWait(header, files[i].path, run.progressOn);
    }
  }
  return finishSend(
      run, r, result, to.front(),
      {T("Lumo影"), T("发送动画成功！是否将%s加入好友列表?"),
       T("发送动画失败！是否将%s加入好友列表?"), T("发送动画成功！"), T("发送动画失败！")},
      model->phoneType);
}
#endif

// ---- query-model, login, friends ----

int queryModel(Run& run) {
  Result r;
  const auto to = recipients(run.args);
  if (to.size() != 1) return usage("query-model takes one --to");
  if (int c = signIn(run, r)) return c;
  int code = 0;
  if (refusedRecipient(run, r, to, code)) return code;
  const int result = modkit::startAndWait(
      [&](const SendNotice& n) { return NET_SendMobileTypeQuerySMS(&n, to.front().c_str()); },
      run.progressOn);
  r.add("result", result);
  return r.print(run, result == 0 ? kOk : kSendFailed);
}

int loginCommand(Run& run) {
  Result r;
  if (int c = signIn(run, r)) return c;
  r.add("user", run.user);
  return r.print(run, kOk);
}

int friendsCommand(Run& run) {
  Result r;
  const Args& a = run.args;
  std::string user = a.value("user");
  if (user.empty()) {
    char last[64] = {};
    LOGIN_GetLastUserId(last);
    user = last;
  }
  if (user.empty()) return usage("friends needs --user");
  login::prepareUserFolder(user);
  FriendsTable* table = FLOpen(user.c_str());
  if (!table) return refuse(run, r, "cannot open the friends table of " + user);
  auto close = std::unique_ptr<FriendsTable, void (*)(FriendsTable*)>(table, FLClose);
  auto record = [&](FriendRecord& f) -> bool {
    auto number = gbkArg(a.value("number", fieldText(f.mobilenum)));
    auto type = gbkArg(a.value("phone-type", fieldText(f.mobiletype)));
    auto name = gbkArg(a.value("name", utf8(fieldText(f.name))));
    if (!number || !type || !name || number->empty()) return false;
    copyField(f.mobilenum, *number);
    copyField(f.mobiletype, *type);
    copyField(f.name, name->empty() ? *number : *name);
    return true;
  };
  if (a.sub == "list") {
    const int n = FLGetCount(table);
    for (int i = 0; i < n; ++i) {
      FriendRecord f{};
      if (FLGetInfo(table, i, &f) < 0) continue;
      if (!run.json) {
        std::printf("%d\t%s\t%s\t%s\n", i, fieldText(f.mobilenum).c_str(),
                    fieldText(f.mobiletype).c_str(), utf8(fieldText(f.name)).c_str());
      }
    }
    r.add("friends", n);
    return r.print(run, kOk);
  }
  if (a.sub == "add") {
    FriendRecord f{};
    if (!a.has("number") || !record(f)) return usage("friends add needs --number");
    const int got = FLAddInfo(table, &f);
    r.add("result", got);
    return r.print(run, got >= 0 ? kOk : kRefused);
  }
  if (a.plain.size() != 1) return usage("friends " + a.sub + " takes the friend's index");
  const auto index = integer(a.plain[0], 0, 1 << 20);
  FriendRecord f{};
  if (!index || FLGetInfo(table, *index, &f) < 0) return refuse(run, r, "no friend " + a.plain[0]);
  int got = 0;
  if (a.sub == "change") {
    if (!record(f)) return usage("friends change: bad --number, --phone-type or --name");
    got = FLModifyInfo(table, *index, &f);
  } else {
    got = FLDelInfo(table, *index);
  }
  r.add("result", got);
  return r.print(run, got >= 0 ? kOk : kRefused);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  const ParseResult p = parse(words);
  if (!p.args) return usage(p.error);
  Run run;
  run.args = *p.args;
  if (run.args.has("help")) {
    std::fputs(kUsageText, stdout);
    return kOk;
  }
  run.json = run.args.has("json");
  run.progressOn = !run.args.has("no-progress");
  run.console = std::make_shared<ConsoleBackend>(run.args.has("yes"), run.progressOn);
  ui::setBackend(run.console);
  int code = kUsage;
  const std::string& c = run.args.command;
  if (c == "text")
    code = text(run);
  else if (c == "picture")
    code = picture(run);
  else if (c == "ringtone")
    code = ringtone(run);
  else if (c == "models")
    code = models(run);
  else if (c == "query-model")
    code = queryModel(run);
  else if (c == "login")
    code = loginCommand(run);
  else if (c == "friends")
    code = friendsCommand(run);
  else if (c == "animation") {
#ifdef HV_HAVE_FLICKCORE
    code = animation(run);
#else
    std::fprintf(stderr, "hvsend: animation is not available in this build\n");
    Result r;
    r.add("error", "animation is not available in this build");
    code = r.print(run, kNotAvailable);
#endif
  }
  NET_UserLogout();
  ui::setBackend(std::make_shared<ui::ScriptedBackend>());
  return code;
}

}  // namespace hv::hvsend

int main(int argc, char** argv) {
  return hv::hvsend::main(argc, argv);
}
