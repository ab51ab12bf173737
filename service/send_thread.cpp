#include "service/send_thread.h"

#include <algorithm>
#include <thread>

#include "platform/gbk.h"
#include "platform/messages.h"
#include "service/protocol/packet.h"
#include "transport/netkit.h"
#include "utils/stream.h"

namespace hv::svc {

namespace {

std::atomic<int> runningSends{0};

constexpr int kCopyPiece = 256;
constexpr size_t kUploadPiece = 512;

int code(SendFailure f) {
  return int(f);
}

void appendBe32(std::vector<uint8_t>& out, uint32_t v) {
  WireWriter(out).u32(v);
}

}  // namespace

const char* describe(SendFailure f) {
  switch (f) {
    case SendFailure::StreamOrTicket:
      return "packet stream failed, or the ticket exchange failed";
    case SendFailure::Cancelled:
      return "cancelled by the user";
    case SendFailure::NoConnection:
      return "no connection to the send server";
    case SendFailure::HeaderWrite:
      return "header could not be written to the packet";
    case SendFailure::OpenContent:
      return "content or attachment file could not be opened";
    case SendFailure::PlaceholderWrite:
      return "text section placeholder could not be written";
    case SendFailure::CountRead:
      return "text count could not be read";
    case SendFailure::TextRead:
      return "a text could not be read or is longer than 160 bytes";
    case SendFailure::TextWrite:
      return "a text could not be written to the packet";
    case SendFailure::SizeWrite:
      return "content or attachment size could not be written";
    case SendFailure::PieceCopy:
      return "a content or attachment piece could not be copied";
    case SendFailure::SizeMismatch:
      return "bytes copied differ from the stream's size";
    case SendFailure::DescriptorWrite:
      return "attachment descriptor could not be written";
    case SendFailure::UploadHeadSend:
      return "upload length, command or ticket could not be sent";
    case SendFailure::PieceSend:
      return "a packet piece could not be sent";
    case SendFailure::ReplyLength:
      return "no usable upload reply length";
    case SendFailure::ReplyCommand:
      return "no upload reply command, or another command";
    case SendFailure::ReplyStatus:
      return "no upload reply status";
  }
  return "unknown failure";
}

size_t headerSizeOf(const uint8_t* header) {
  size_t n = header[header::kRecipientCount];
  return header::size(n, header[header::attachType(n)]);
}

CSendMessageThread::CSendMessageThread(SendRequest request, SendCredentials credentials)
    : request_(std::move(request)), credentials_(std::move(credentials)) {}

bool CSendMessageThread::start(std::unique_ptr<CSendMessageThread> send) {
  ++runningSends;
  try {
    std::thread([send = std::move(send)]() mutable {
      send->run();
      send.reset();
      --runningSends;
    }).detach();
    return true;
  } catch (const std::system_error&) {
    --runningSends;
    return false;
  }
}

int CSendMessageThread::running() {
  return runningSends.load();
}

// Copies a stream into the packet in 256-byte pieces. A piece shorter than 256 bytes (or the
// end of the stream once `size` bytes are in) ends the copy.
int CSendMessageThread::copyStream(CDataStream& from, long size, SendProgressDialog* progress,
                                   SendProgressDialog& dialog) {
  long copied = 0;
  uint8_t piece[kCopyPiece];
  while (!dialog.cancelled()) {
    int n = from.ReadData(piece, kCopyPiece);
    if (n <= 0) {
      // A stream whose size is a multiple of 256 ends with an empty read.
      if (copied == size) break;
      return code(SendFailure::PieceCopy);
    }
    packet_.insert(packet_.end(), piece, piece + n);
    copied += n;
    if (progress && size > 0) progress->setPosition(int(copied * 100 / size));
    if (n < kCopyPiece) break;
  }
  if (!dialog.cancelled() && copied != size) return code(SendFailure::SizeMismatch);
  return 0;
}

int CSendMessageThread::buildPacket(SendProgressDialog& dialog) {
  const auto& header = request_.header;
  size_t n = header[header::kRecipientCount];
  int attachmentType = header[header::attachType(n)];
  dialog.setStatus(T("开始组合数据包..."));
  packet_.assign(header.begin(), header.begin() + headerPartSize(n));

  std::unique_ptr<CDataStream> content;
  if (request_.contentInMemory) {
    auto memory = std::make_unique<CMemoryStream>();
    if (memory->OpenStream(request_.content.data(), long(request_.content.size())) != 0)
      return code(SendFailure::OpenContent);
    content = std::move(memory);
  } else {
    auto file = std::make_unique<CFileStream>();
    if (file->OpenStream(request_.contentPath, "rb") != 0) return code(SendFailure::OpenContent);
    content = std::move(file);
  }

  if (fieldText(reinterpret_cast<const char*>(&header[header::kServiceCode]),
                header::kServiceCodeWidth) == "SMS") {
    size_t placeholder = packet_.size();
    appendBe32(packet_, 0);
    uint8_t word[4];
    if (content->ReadData(word, 4) != 4) return code(SendFailure::CountRead);
    uint32_t count = std::min<uint32_t>(loadLe32(word), kMaxTexts);
    packet_.push_back(uint8_t(count));
    uint32_t total = 1;
    for (uint32_t i = 0; i < count && !dialog.cancelled(); ++i) {
      if (content->ReadData(word, 4) != 4) return code(SendFailure::TextRead);
      uint32_t length = loadLe32(word);
      if (length > kMaxTextLength) return code(SendFailure::TextRead);
      uint8_t text[kMaxTextLength + 1];
      if (content->ReadData(text, int(length + 1)) != int(length + 1))
        return code(SendFailure::TextRead);
      packet_.push_back(uint8_t(length));
      packet_.insert(packet_.end(), text, text + length);
      total += length + 1;
    }
    storeBe32(&packet_[placeholder], total);
  } else {
    long size = content->GetSize();
    appendBe32(packet_, uint32_t(size));
    dialog.setRange(0, 100);
    dialog.setPosition(0);
    if (int r = copyStream(*content, size, &dialog, dialog)) return r;
  }

  if (attachmentType == 1 || attachmentType == 2) {
    auto descriptor = header.begin() + header::descriptor(n);
    packet_.insert(packet_.end(), descriptor, descriptor + header::kDescriptorWidth);
  }
  if (attachmentType == 1) {
    std::string path = fieldText(reinterpret_cast<const char*>(&header[header::attachPath(n)]),
                                 header::kAttachPathWidth);
    CFileStream file;
    if (file.OpenStream(path, "rb") != 0) return code(SendFailure::OpenContent);
    long size = file.GetSize();
    appendBe32(packet_, uint32_t(size));
    if (dialog.cancelled()) return code(SendFailure::Cancelled);
    if (int r = copyStream(file, size, nullptr, dialog)) return r;
  }
  return 0;
}

int CSendMessageThread::obtainTicket(CNetkit& socket, std::array<uint8_t, kTicketWidth>& ticket) {
  const int failed = code(SendFailure::StreamOrTicket);
  auto query = ticketQuery(credentials_.userId);
  // Length, command and user id go out as three sends.
  if (!sendAll(socket, query.data(), 4) || !sendAll(socket, query.data() + 4, 4) ||
      !sendAll(socket, query.data() + 8, kUserIdWidth))
    return failed;
  uint8_t word[4];
  if (!recvExact(socket, word, 4)) return failed;  // the length word is not checked
  if (!recvExact(socket, word, 4) || loadBe32(word) != replyCommand(kTicketQuery)) return failed;
  if (!recvExact(socket, word, 4)) return failed;
  if (int32_t status = int32_t(loadBe32(word)); status != 0) return status;
  if (!recvExact(socket, word, 4)) return failed;
  uint32_t blobLength = loadBe32(word);
  if (blobLength < 1 || blobLength > kMaxTicketBlob) return failed;
  std::vector<uint8_t> blob(blobLength);
  if (!recvExact(socket, blob.data(), blob.size())) return failed;
  auto opened = openTicketBlob(blob, credentials_.password);
  if (!opened) return failed;
  ticket = *opened;
  return 0;
}

int CSendMessageThread::upload(CNetkit& socket, const std::array<uint8_t, kTicketWidth>& ticket,
                               SendProgressDialog& dialog) {
  dialog.setStatus(T("正在发送数据..."));
  dialog.setRange(0, 110);
  dialog.setPosition(0);
  auto head = uploadHead(ticket, packet_.size());
  if (!sendAll(socket, head.data(), 4) || !sendAll(socket, head.data() + 4, 4) ||
      !sendAll(socket, head.data() + 8, kTicketWidth))
    return code(SendFailure::UploadHeadSend);
  dialog.setPosition(10);
  for (size_t sent = 0; sent < packet_.size() && !dialog.cancelled();) {
    size_t piece = std::min(kUploadPiece, packet_.size() - sent);
    if (!sendAll(socket, packet_.data() + sent, piece)) return code(SendFailure::PieceSend);
    sent += piece;
    dialog.setPosition(int(sent * 100 / packet_.size()));
  }
  if (dialog.cancelled()) return code(SendFailure::Cancelled);
  uint8_t word[4];
  if (!recvExact(socket, word, 4) || loadBe32(word) != 12) return code(SendFailure::ReplyLength);
  if (dialog.cancelled()) return code(SendFailure::Cancelled);
  if (!recvExact(socket, word, 4) || loadBe32(word) != replyCommand(kMessageUpload))
    return code(SendFailure::ReplyCommand);
  if (dialog.cancelled()) return code(SendFailure::Cancelled);
  if (!recvExact(socket, word, 4)) return code(SendFailure::ReplyStatus);
  return int32_t(loadBe32(word));
}

int CSendMessageThread::send() {
  auto& dialog = *dialog_;
  dialog.setStatus(T("正在与服务器进行连接..."));
  if (int r = buildPacket(dialog)) return r;
  if (dialog.cancelled()) return code(SendFailure::Cancelled);
  auto socket =
      OpenServiceConnection(credentials_.proxy, credentials_.send.host, credentials_.send.port);
  if (!socket) return code(SendFailure::NoConnection);
  dialog.setStatus(T("正在与服务器通讯取得授权..."));
  std::array<uint8_t, kTicketWidth> ticket{};
  if (int r = obtainTicket(*socket, ticket)) return r;
  return upload(*socket, ticket, dialog);
}

int CSendMessageThread::run() {
  int result = code(SendFailure::StreamOrTicket);
  bool cancelled = false;
  bool shown = false;
  try {
    dialog_ = std::make_shared<SendProgressDialog>();
    if (request_.notice.show != 0) {
      ui::backend().showModeless(dialog_);
      shown = true;
    } else {
      dialog_->onInit();
    }
    result = send();
    cancelled = dialog_->cancelled();
  } catch (const std::exception&) {
    // A send that cannot do its work still answers, so the caller never waits for ever.
    result = code(SendFailure::StreamOrTicket);
  }
  if (shown) ui::backend().close(*dialog_);
  dialog_.reset();
  packet_.clear();
  packet_.shrink_to_fit();
  if (cancelled) result = code(SendFailure::Cancelled);
  PostMessage(request_.notice.window, request_.notice.message, request_.notice.wparam,
              intptr_t(result));
  return result;
}

}  // namespace hv::svc
