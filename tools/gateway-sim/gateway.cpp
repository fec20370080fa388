#include "gateway.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <map>
#include <stdexcept>

#include "base/file.h"
#include "base/text.h"
#include "json_writer.h"
#include "payload_records.h"
#include "transport/gateway_url.h"
#include "transport/hex.h"
#include "transport/rowset_document.h"
#include "transport/zlib_codec.h"

namespace parlix::sim {

namespace {

/// Whether `text` holds the parts of `pattern` between its '*'s, in that order.
bool holdsInOrder(const std::string& text, const std::string& pattern) {
    size_t at = 0;
    for (const std::string& part : split(pattern, "*")) {
        at = text.find(part, at);
        if (at == std::string::npos) {
            return false;
        }
        at += part.size();
    }
    return true;
}

constexpr const char* kDebitPassword = "pelurvintas";
constexpr const char* kOpenSenderIdReply = "ZENTROCAOPENSENDERID";
constexpr size_t kPieceSize = 2048;
constexpr size_t kMaxPayloadBytes = 32u * 1024 * 1024;
constexpr const char* kGarbage = "\x1b\xff<html><body>500 \xfe\x01 Internal garbage</body>";

CodePageConverter openToUtf8(const std::string& codePage) {
    Result<CodePageConverter> conv = CodePageConverter::open(codePage, "UTF-8");
    if (!conv) {
        throw std::invalid_argument(conv.error().message);
    }
    return std::move(conv).value();
}

const std::string* param(const std::vector<std::pair<std::string, std::string>>& query,
                         std::string_view key) {
    for (const auto& [k, v] : query) {
        if (k == key) {
            return &v;
        }
    }
    return nullptr;
}

GatewayReply text(std::string body, int status = 200) {
    GatewayReply r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

GatewayReply missing(std::string_view key) {
    return text("error: missing " + std::string(key), 400);
}

std::optional<long long> wholeNumber(const std::string& s) {
    long long v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size()) {
        return std::nullopt;
    }
    return v;
}

template <typename T>
void capped(std::deque<T>& items, size_t cap) {
    while (items.size() > cap) {
        items.pop_front();
    }
}

}  // namespace

std::vector<std::pair<std::string, std::string>> parseQuery(std::string_view rawQuery) {
    std::vector<std::pair<std::string, std::string>> out;
    if (rawQuery.empty()) {
        return out;
    }
    for (const std::string& item : split(rawQuery, "&")) {
        size_t eq = item.find('=');
        std::string_view k = std::string_view(item).substr(0, eq);
        std::string_view v =
            eq == std::string::npos ? std::string_view() : std::string_view(item).substr(eq + 1);
        out.emplace_back(decodeQueryValue(k), decodeQueryValue(v));
    }
    return out;
}

Gateway::Gateway(std::vector<Account> accounts, std::string codePage, std::string stateFile)
    : m_accounts(std::move(accounts)),
      m_toUtf8(openToUtf8(codePage)),
      m_stateFile(std::move(stateFile)) {}

GatewayReply Gateway::handle(const GatewayRequest& request) {
    std::lock_guard lock(m_mutex);
    RequestRecord record;
    record.seq = ++m_seq;
    record.request = request;
    size_t q = request.target.find('?');
    record.query =
        parseQuery(q == std::string::npos ? std::string_view()
                                          : std::string_view(request.target).substr(q + 1));
    GatewayReply reply = route(request, record.query, record);

    auto found = m_serverFaults.find(request.server);
    const ServerFaults sf = found == m_serverFaults.end() ? ServerFaults{} : found->second;
    if ((sf.path.empty() || iequals(sf.path, request.path)) &&
        holdsInOrder(request.target, sf.match)) {
        reply.delayMs = sf.delayMs;
        if (sf.reply) {
            reply.body = *sf.reply;
            reply.body.resize(std::max(reply.body.size(), sf.replyBytes), 'x');
            record.fault = "reply";
        }
        if (sf.garbage) {
            reply.body = kGarbage;
            record.fault = "garbage";
        }
        if (sf.cut) {
            reply.delivery = Delivery::CutMidway;
            record.fault = "cut";
        }
        if (sf.delayMs > 0 && record.fault.empty()) {
            record.fault = "delay";
        }
    }
    record.reply = reply.body;
    m_requests.push_back(std::move(record));
    capped(m_requests, kMaxRequests);
    return reply;
}

GatewayReply Gateway::route(const GatewayRequest& request, const Query& query,
                            RequestRecord& record) {
    const std::string& path = request.path;
    const bool get = request.method == "GET";
    if (iequals(path, "/Parlix/ParlixChk.asp") && get) {
        return serverCheck(request.server);
    }
    if (iequals(path, "/Parlix/Logonchks.asp") && get) {
        return login(query);
    }
    if (iequals(path, "/Parlix/PostDataZSM.ASP") && request.method == "POST") {
        return upload(request, query, record);
    }
    if (iequals(path, "/Parlix/Debit.asp") && get) {
        return debit(query);
    }
    if (iequals(path, "/DR/DR.aspx") && get) {
        return deliveryReports(query);
    }
    return text("error: no such request " + request.method + " " + path, 404);
}

GatewayReply Gateway::serverCheck(const std::string& server) {
    auto found = m_serverFaults.find(server);
    if (found != m_serverFaults.end() && found->second.checkReply) {
        return text(*found->second.checkReply);
    }
    return text("Server Connected");
}

Account* Gateway::findAccount(const std::string& userId) {
    // The gateway matches user ids without the blanks an operator may type around them.
    std::string wanted = trimSpaces(userId);
    for (Account& a : m_accounts) {
        if (a.user == wanted) {
            return &a;
        }
    }
    return nullptr;
}

GatewayReply Gateway::login(const Query& query) {
    for (const char* key : {"UserId", "UserPassWord", "IP"}) {
        if (param(query, key) == nullptr) {
            return missing(key);
        }
    }
    Account* a = findAccount(*param(query, "UserId"));
    if (a == nullptr || a->password != *param(query, "UserPassWord")) {
        return text("logonno");
    }
    std::string ids = a->senderIds == kOpenSenderIdMark ? kOpenSenderIdReply : a->senderIds;
    return text("logonyes||" + std::to_string(a->balance) + "||" + (a->drAllowed ? "YES" : "NO") +
                "||" + a->notice + "||" + ids);
}

void Gateway::dropPending(const std::pair<std::string, std::string>& key) {
    auto it = m_pending.find(key);
    if (it != m_pending.end()) {
        m_pendingHex -= it->second.hex.size();
        m_pending.erase(it);
    }
}

GatewayReply Gateway::upload(const GatewayRequest& request, const Query& query,
                             RequestRecord& record) {
    for (const char* key : {"ID", "MsgLen", "Status", "Flag"}) {
        if (param(query, key) == nullptr) {
            return missing(key);
        }
    }
    const std::string& id = *param(query, "ID");
    const std::string& flag = *param(query, "Flag");
    const std::string& status = *param(query, "Status");
    const auto key = std::pair{id, flag};
    auto refuse = [&](const std::string& why) {
        dropPending(key);
        return text("error: " + why, 400);
    };
    if (findAccount(id) == nullptr) {
        return refuse("unknown user id");
    }
    if (!kindOfFlag(flag)) {
        return refuse("flag does not end in _TAG, _NWT or _NWM");
    }
    std::optional<long long> msgLen = wholeNumber(*param(query, "MsgLen"));
    if (!msgLen || *msgLen < 0 || *msgLen > static_cast<long long>(kPieceSize)) {
        return refuse("MsgLen must be a whole number from 0 to 2048");
    }
    if (status != "0" && status != "1") {
        return refuse("Status must be 0 or 1");
    }
    if (!istartsWith(request.contentType, "text/xml")) {
        return refuse("content type must be text/xml");
    }
    std::optional<std::string> piece = rowsetMsgText(request.body);
    if (!piece) {
        return refuse("body is not a rowset document with one Msg_Text row");
    }
    record.msgTextLength = static_cast<long long>(piece->size());
    if (static_cast<long long>(piece->size()) != *msgLen) {
        return refuse("MsgLen does not match the length of Msg_Text");
    }
    if (!isUpperHex(*piece)) {
        return refuse("Msg_Text is not upper-case hex");
    }
    const bool last = status == "1";
    auto it = m_pending.find(key);
    const int pieceNo = it == m_pending.end() ? 1 : it->second.pieces + 1;
    if (m_faults.refusePiece == pieceNo) {
        return refuse("piece " + std::to_string(pieceNo) + " refused");
    }
    if (!last && piece->size() != kPieceSize) {
        return refuse("every piece but the last must hold 2048 characters");
    }
    if (last && piece->empty() && pieceNo > 1) {
        return refuse("an upload does not end with an empty piece");
    }
    if (it == m_pending.end()) {
        if (m_pending.size() >= kMaxPendingUploads) {
            // The oldest unfinished upload makes room: its client has most likely given up.
            auto oldest = m_pending.begin();
            for (auto p = m_pending.begin(); p != m_pending.end(); ++p) {
                if (p->second.started < oldest->second.started) {
                    oldest = p;
                }
            }
            dropPending(oldest->first);
        }
        it = m_pending.emplace(key, Upload{trimSpaces(id), {}, 0, m_seq}).first;
    }
    Upload& up = it->second;
    if (up.hex.size() + piece->size() > kMaxUploadHex ||
        m_pendingHex + piece->size() > kMaxPendingHexTotal) {
        return refuse("upload too large");
    }
    up.hex += *piece;
    up.pieces = pieceNo;
    m_pendingHex += piece->size();
    if (!last) {
        return text(m_faults.doneReply ? *m_faults.doneReply : "done");
    }
    Upload finished = std::move(up);
    dropPending(key);
    return finishUpload(flag, std::move(finished), request.server);
}

GatewayReply Gateway::finishUpload(const std::string& flag, Upload upload,
                                   const std::string& server) {
    auto [kind, batchStamp] = kindOfFlag(flag).value();
    std::optional<std::string> compressed = hexToBytes(upload.hex);
    if (!compressed) {
        return text("error: hex text of odd length", 400);
    }
    std::string payload;
    if (!compressed->empty()) {
        std::optional<std::string> inflated = inflateZlibStream(*compressed, kMaxPayloadBytes);
        if (!inflated) {
            return text("error: not one whole zlib stream", 400);
        }
        payload = std::move(*inflated);
    }
    Result<DecodedPayload> decoded = decodeRecords(kind, payload);
    if (!decoded) {
        return text("error: " + decoded.error().message, 400);
    }
    Batch b;
    b.seq = ++m_seq;
    b.flag = flag;
    b.batch = batchStamp;
    b.kind = kindName(kind);
    b.user = upload.user;
    b.server = server;
    b.cdmaId = m_toUtf8.convert(decoded.value().cdmaId);
    b.gsmId = m_toUtf8.convert(decoded.value().gsmId);
    b.pieces = upload.pieces;
    b.hexLength = upload.hex.size();
    b.payloadBytes = payload.size();
    b.records = decoded.value().records.size();

    std::string senderId;
    for (auto it = m_batches.rbegin(); it != m_batches.rend(); ++it) {
        if (it->kind == "TAG" && it->batch == batchStamp && it->user == upload.user) {
            senderId = it->gsmId;
            break;
        }
    }
    const std::string received = nowText();
    for (const PayloadRecord& r : decoded.value().records) {
        Message m;
        m.seq = ++m_seq;
        m.batch = batchStamp;
        m.flag = flag;
        m.kind = b.kind;
        m.user = upload.user;
        m.server = server;
        m.number = m_toUtf8.convert(r.number);
        m.messageId = m_toUtf8.convert(r.messageId);
        m.type = m_toUtf8.convert(r.type);
        m.text = m_toUtf8.convert(r.text);
        m.senderId = senderId;
        m.reportStatus = "DELIVRD";
        m.reportReason = "000";
        m.reportTime = received;
        m_messages.push_back(std::move(m));
        if (m_messages.size() > kMaxMessages) {
            m_messages.pop_front();
            ++m_messagesDropped;
        }
    }
    m_batches.push_back(std::move(b));
    capped(m_batches, kMaxBatches);
    return text(m_faults.completeReply ? *m_faults.completeReply : "complete");
}

GatewayReply Gateway::debit(const Query& query) {
    for (const char* key : {"UserId", "UserPassWord", "DebitSMS", "Flnm"}) {
        if (param(query, key) == nullptr) {
            return missing(key);
        }
    }
    Debit d;
    d.seq = ++m_seq;
    d.user = *param(query, "UserId");
    d.flnm = *param(query, "Flnm");
    std::optional<long long> parts = wholeNumber(*param(query, "DebitSMS"));
    d.parts = parts.value_or(-1);
    Account* a = findAccount(d.user);
    Batch* batch = nullptr;
    for (auto it = m_batches.rbegin(); a != nullptr && it != m_batches.rend(); ++it) {
        if (it->batch == d.flnm && it->user == a->user && it->kind != "TAG") {
            batch = &*it;
            break;
        }
    }
    d.batchFound = batch != nullptr;
    if (a == nullptr) {
        d.reply = "Invalid User";
    } else if (*param(query, "UserPassWord") != kDebitPassword) {
        d.reply = "Invalid Password";
    } else if (!parts || *parts <= 0) {
        d.reply = "Invalid DebitSMS";
    } else if (batch == nullptr) {
        d.reply = "Unknown Flnm";
    } else if (batch->debited) {
        d.reply = "Already Debited";
    } else if (m_faults.refuseDebit) {
        d.reply = "Debit Failed";
    } else if (a->balance < *parts) {
        d.reply = "Insufficient Balance";
    } else {
        a->balance -= *parts;
        batch->debited = true;
        d.ok = true;
        d.reply = "Success";
        saveState();
    }
    d.balanceAfter = a != nullptr ? a->balance : 0;
    std::string reply = d.reply;
    m_debits.push_back(std::move(d));
    capped(m_debits, kMaxDebits);
    return text(reply);
}

GatewayReply Gateway::deliveryReports(const Query& query) {
    const std::string* user = param(query, "userid");
    const std::string* pass = param(query, "userpass");
    const std::string* msgNum = param(query, "MsgNum");
    Account* a = user != nullptr ? findAccount(*user) : nullptr;
    if (a == nullptr || pass == nullptr || a->password != *pass) {
        return text("-201");
    }
    if (msgNum == nullptr || msgNum->empty()) {
        return missing("MsgNum");
    }
    const std::string mark = *msgNum + "-";
    std::string reply;
    size_t lines = 0;
    for (Message& m : m_messages) {
        if (lines == kMaxReportLines) {
            break;
        }
        if (m.reported || m.user != a->user || m.messageId.find(mark) == std::string::npos) {
            continue;
        }
        if (lines > 0) {
            reply += "\r\n";
        }
        reply += m.messageId + "," + m.reportStatus + "," + m.reportTime + "," + m.reportReason;
        m.reported = true;
        ++lines;
    }
    return text(lines == 0 ? "END" : reply);
}

void Gateway::saveState() {
    if (m_stateFile.empty()) {
        return;
    }
    try {
        writeFileAtomic(m_stateFile, formatAccounts(m_accounts));
    } catch (const FileError& e) {
        std::fprintf(stderr, "gateway-sim: %s\n", e.what());
    }
}

std::string Gateway::nowText() const {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    return buf;
}

void Gateway::putAccount(const Account& account) {
    std::lock_guard lock(m_mutex);
    for (Account& a : m_accounts) {
        if (a.user == account.user) {
            a = account;
            saveState();
            return;
        }
    }
    m_accounts.push_back(account);
    saveState();
}

void Gateway::setServerFaults(const std::string& server, const ServerFaults& faults) {
    std::lock_guard lock(m_mutex);
    m_serverFaults[server] = faults;
}

ServerFaults Gateway::serverFaults(const std::string& server) const {
    std::lock_guard lock(m_mutex);
    auto it = m_serverFaults.find(server);
    return it == m_serverFaults.end() ? ServerFaults{} : it->second;
}

void Gateway::setGatewayFaults(const GatewayFaults& faults) {
    std::lock_guard lock(m_mutex);
    m_faults = faults;
}

GatewayFaults Gateway::gatewayFaults() const {
    std::lock_guard lock(m_mutex);
    return m_faults;
}

void Gateway::clearFaults() {
    std::lock_guard lock(m_mutex);
    m_serverFaults.clear();
    m_faults = {};
}

void Gateway::reset() {
    std::lock_guard lock(m_mutex);
    m_serverFaults.clear();
    m_faults = {};
    m_pending.clear();
    m_pendingHex = 0;
    m_requests.clear();
    m_messages.clear();
    m_batches.clear();
    m_debits.clear();
    m_messagesDropped = 0;
}

int Gateway::setReport(const std::string& messageId, const std::string& status,
                       const std::string& reason, const std::string& time) {
    std::lock_guard lock(m_mutex);
    int found = 0;
    for (Message& m : m_messages) {
        if (m.messageId == messageId) {
            m.reportStatus = status;
            m.reportReason = reason;
            if (!time.empty()) {
                m.reportTime = time;
            }
            m.reported = false;
            ++found;
        }
    }
    return found;
}

std::string Gateway::requestsJson(std::uint64_t since) const {
    std::lock_guard lock(m_mutex);
    JsonWriter w;
    w.beginArray();
    for (const RequestRecord& r : m_requests) {
        if (r.seq <= since) {
            continue;
        }
        w.beginObject()
            .key("seq")
            .value(static_cast<long long>(r.seq))
            .key("server")
            .value(r.request.server)
            .key("method")
            .value(r.request.method)
            .key("path")
            .value(r.request.path)
            .key("target")
            .value(r.request.target)
            .key("query")
            .beginArray();
        for (const auto& [k, v] : r.query) {
            w.beginArray().value(k).value(v).endArray();
        }
        w.endArray()
            .key("contentType")
            .value(r.request.contentType)
            .key("bodyBytes")
            .value(static_cast<long long>(r.request.body.size()))
            .key("msgTextLength")
            .value(r.msgTextLength)
            .key("peer")
            .value(r.request.peer)
            .key("reply")
            .value(r.reply)
            .key("fault")
            .value(r.fault)
            .endObject();
    }
    w.endArray();
    return w.str();
}

std::string Gateway::messagesJson() const {
    std::lock_guard lock(m_mutex);
    JsonWriter w;
    w.beginArray();
    for (const Message& m : m_messages) {
        w.beginObject()
            .key("seq")
            .value(static_cast<long long>(m.seq))
            .key("batch")
            .value(m.batch)
            .key("flag")
            .value(m.flag)
            .key("kind")
            .value(m.kind)
            .key("user")
            .value(m.user)
            .key("server")
            .value(m.server)
            .key("number")
            .value(m.number)
            .key("messageId")
            .value(m.messageId)
            .key("type")
            .value(m.type)
            .key("text")
            .value(m.text)
            .key("senderId")
            .value(m.senderId)
            .key("reportStatus")
            .value(m.reportStatus)
            .key("reportReason")
            .value(m.reportReason)
            .key("reportTime")
            .value(m.reportTime)
            .key("reported")
            .value(m.reported)
            .endObject();
    }
    w.endArray();
    return w.str();
}

std::string Gateway::messageSummaryJson() const {
    std::lock_guard lock(m_mutex);
    std::map<std::string, int> seen;
    for (const Message& m : m_messages) {
        ++seen[m.messageId];
    }
    JsonWriter w;
    w.beginObject()
        .key("messages")
        .value(static_cast<long long>(m_messages.size()))
        .key("distinctIds")
        .value(static_cast<long long>(seen.size()))
        .key("dropped")
        .value(static_cast<long long>(m_messagesDropped))
        .key("repeatedIds")
        .beginArray();
    size_t listed = 0;
    for (const auto& [id, n] : seen) {
        if (n > 1 && listed++ < 100) {
            w.value(id);
        }
    }
    w.endArray().endObject();
    return w.str();
}

std::string Gateway::batchesJson() const {
    std::lock_guard lock(m_mutex);
    JsonWriter w;
    w.beginArray();
    for (const Batch& b : m_batches) {
        w.beginObject()
            .key("seq")
            .value(static_cast<long long>(b.seq))
            .key("flag")
            .value(b.flag)
            .key("batch")
            .value(b.batch)
            .key("kind")
            .value(b.kind)
            .key("user")
            .value(b.user)
            .key("server")
            .value(b.server)
            .key("pieces")
            .value(b.pieces)
            .key("hexLength")
            .value(static_cast<long long>(b.hexLength))
            .key("payloadBytes")
            .value(static_cast<long long>(b.payloadBytes))
            .key("records")
            .value(static_cast<long long>(b.records))
            .key("cdmaId")
            .value(b.cdmaId)
            .key("gsmId")
            .value(b.gsmId)
            .key("debited")
            .value(b.debited)
            .endObject();
    }
    w.endArray();
    return w.str();
}

std::string Gateway::debitsJson() const {
    std::lock_guard lock(m_mutex);
    JsonWriter w;
    w.beginArray();
    for (const Debit& d : m_debits) {
        w.beginObject()
            .key("seq")
            .value(static_cast<long long>(d.seq))
            .key("user")
            .value(d.user)
            .key("parts")
            .value(d.parts)
            .key("flnm")
            .value(d.flnm)
            .key("batchFound")
            .value(d.batchFound)
            .key("ok")
            .value(d.ok)
            .key("reply")
            .value(d.reply)
            .key("balanceAfter")
            .value(d.balanceAfter)
            .endObject();
    }
    w.endArray();
    return w.str();
}

std::string Gateway::accountsJson() const {
    std::lock_guard lock(m_mutex);
    JsonWriter w;
    w.beginArray();
    for (const Account& a : m_accounts) {
        w.beginObject()
            .key("user")
            .value(a.user)
            .key("password")
            .value(a.password)
            .key("balance")
            .value(a.balance)
            .key("dr")
            .value(a.drAllowed)
            .key("notice")
            .value(a.notice)
            .key("senderIds")
            .value(a.senderIds)
            .endObject();
    }
    w.endArray();
    return w.str();
}

std::uint64_t Gateway::messagesDropped() const {
    std::lock_guard lock(m_mutex);
    return m_messagesDropped;
}

std::string Gateway::faultsJson() const {
    std::lock_guard lock(m_mutex);
    JsonWriter w;
    w.beginObject()
        .key("refusePiece")
        .value(m_faults.refusePiece)
        .key("refuseDebit")
        .value(m_faults.refuseDebit);
    if (m_faults.doneReply) {
        w.key("doneReply").value(*m_faults.doneReply);
    }
    if (m_faults.completeReply) {
        w.key("completeReply").value(*m_faults.completeReply);
    }
    w.key("servers").beginObject();
    for (const auto& [name, f] : m_serverFaults) {
        w.key(name).beginObject();
        if (f.checkReply) {
            w.key("checkReply").value(*f.checkReply);
        }
        w.key("delayMs")
            .value(f.delayMs)
            .key("garbage")
            .value(f.garbage)
            .key("cut")
            .value(f.cut)
            .key("path")
            .value(f.path)
            .key("match")
            .value(f.match)
            .key("replyBytes")
            .value(static_cast<long long>(f.replyBytes));
        if (f.reply) {
            w.key("reply").value(*f.reply);
        }
        w.endObject();
    }
    w.endObject().endObject();
    return w.str();
}

}  // namespace parlix::sim
