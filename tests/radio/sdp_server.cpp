// The SDP server of the remote devices.
#include "tests/radio/remote_device.h"
// sdp_lib.h needs the types of the headers remote_device.h includes.
#include <bluetooth/sdp_lib.h>

#include <algorithm>
#include <cstdlib>

namespace vdm::radio::test {
namespace {

constexpr std::size_t kHeaderSize = 5;  // PDU id, transaction id, parameter length
constexpr std::uint16_t kInsufficientResources = 0x0006;
constexpr std::size_t kContinuationBytes = 2;  // ours: the offset into the AttributeLists

using Bytes = std::vector<std::uint8_t>;
using Input = std::span<const std::uint8_t>;

void PutU16(Bytes &out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

std::uint16_t GetU16(const std::uint8_t *p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

// The header of a data element sequence holding size bytes.
void PutSequenceHeader(Bytes &out, std::size_t size) {
  if (size <= 0xFF) {
    out.push_back(SDP_SEQ8);
    out.push_back(static_cast<std::uint8_t>(size));
  } else {
    out.push_back(SDP_SEQ16);
    PutU16(out, static_cast<std::uint16_t>(size));
  }
}

Bytes Pdu(std::uint8_t id, std::uint16_t tid, const Bytes &parameters) {
  Bytes pdu{id};
  PutU16(pdu, tid);
  PutU16(pdu, static_cast<std::uint16_t>(parameters.size()));
  pdu.insert(pdu.end(), parameters.begin(), parameters.end());
  return pdu;
}

Bytes ErrorResponse(std::uint16_t tid, std::uint16_t code) {
  Bytes parameters;
  PutU16(parameters, code);
  return Pdu(SDP_ERROR_RSP, tid, parameters);
}

// The elements of the data element sequence at the start of in, each handed
// to read with what is left of the sequence; false when anything is
// malformed. *pUsed: the sequence's size with its header.
template <typename ReadElement>
bool ReadSequence(Input in, std::size_t *pUsed, ReadElement read) {
  std::uint8_t type = 0;
  int size = 0;
  const int header = sdp_extract_seqtype(in.data(), static_cast<int>(in.size()), &type, &size);
  if (header <= 0 || size <= 0 || static_cast<std::size_t>(header + size) > in.size()) {
    return false;
  }
  Input body = in.subspan(static_cast<std::size_t>(header), static_cast<std::size_t>(size));
  while (!body.empty()) {
    const std::size_t taken = read(body);
    if (taken == 0 || taken > body.size()) {
      return false;
    }
    body = body.subspan(taken);
  }
  *pUsed = static_cast<std::size_t>(header + size);
  return true;
}

struct AttributeRange {
  std::uint16_t first;
  std::uint16_t last;
};

bool InRanges(std::uint16_t id, const std::vector<AttributeRange> &ranges) {
  return std::any_of(ranges.begin(), ranges.end(),
                     [id](const AttributeRange &r) { return id >= r.first && id <= r.last; });
}

// Every UUID of the pattern is among the record's (the record keeps them
// all, in their 128-bit form).
bool Matches(const sdp_record_t *record, const std::vector<uuid_t> &pattern, bool shortOnly) {
  for (const uuid_t &uuid : pattern) {
    if (shortOnly && uuid.type != SDP_UUID16) {
      return false;
    }
    uuid_t *wide = sdp_uuid_to_uuid128(&uuid);
    const bool found = sdp_list_find(record->pattern, wide, sdp_uuid128_cmp) != nullptr;
    bt_free(wide);
    if (!found) {
      return false;
    }
  }
  return true;
}

// The record's attributes within the ranges, as libbluetooth encodes a record.
Bytes AttributeList(sdp_record_t *record, const std::vector<AttributeRange> &ranges) {
  sdp_record_t *copy = sdp_copy_record(record);
  std::vector<std::uint16_t> outside;
  for (sdp_list_t *entry = copy->attrlist; entry != nullptr; entry = entry->next) {
    const auto *data = static_cast<const sdp_data_t *>(entry->data);
    if (!InRanges(data->attrId, ranges)) {
      outside.push_back(data->attrId);
    }
  }
  for (std::uint16_t id : outside) {
    sdp_data_t *data = sdp_data_get(copy, id);
    sdp_attr_remove(copy, id);  // unlinks without freeing
    sdp_data_free(data);
  }
  sdp_buf_t encoded{};
  sdp_gen_record_pdu(copy, &encoded);
  Bytes list(encoded.data, encoded.data + encoded.data_size);
  std::free(encoded.data);
  sdp_record_free(copy);
  return list;
}

// L2CAP, and RFCOMM with its channel on top when the service has one.
void SetProtocols(sdp_record_t *record, std::optional<std::uint8_t> channelNumber) {
  uuid_t l2cap;
  uuid_t rfcomm;
  sdp_uuid16_create(&l2cap, L2CAP_UUID);
  sdp_uuid16_create(&rfcomm, RFCOMM_UUID);
  sdp_list_t *l2capLayer = sdp_list_append(nullptr, &l2cap);
  sdp_list_t *layers = sdp_list_append(nullptr, l2capLayer);
  sdp_list_t *rfcommLayer = nullptr;
  sdp_data_t *channel = nullptr;
  if (channelNumber) {
    std::uint8_t number = *channelNumber;
    channel = sdp_data_alloc(SDP_UINT8, &number);
    rfcommLayer = sdp_list_append(nullptr, &rfcomm);
    sdp_list_append(rfcommLayer, channel);
    sdp_list_append(layers, rfcommLayer);
  }
  sdp_list_t *protocols = sdp_list_append(nullptr, layers);
  sdp_set_access_protos(record, protocols);
  sdp_list_free(protocols, nullptr);
  sdp_list_free(layers, nullptr);
  sdp_list_free(rfcommLayer, nullptr);
  sdp_list_free(l2capLayer, nullptr);
  if (channel != nullptr) {
    sdp_data_free(channel);
  }
}

}  // namespace

void RemoteDevice::AddRecord(const ServiceRecord &wanted) {
  sdp_record_t *record = sdp_record_alloc();
  record->handle = static_cast<std::uint32_t>(0x10000 + records_.size());
  sdp_attr_add_new(record, SDP_ATTR_RECORD_HANDLE, SDP_UINT32, &record->handle);

  std::vector<uuid_t> classes(wanted.classes.size());
  sdp_list_t *classList = nullptr;
  for (std::size_t i = 0; i < classes.size(); ++i) {
    sdp_uuid16_create(&classes[i], wanted.classes[i]);
    classList = sdp_list_append(classList, &classes[i]);
  }
  sdp_set_service_classes(record, classList);
  sdp_list_free(classList, nullptr);

  uuid_t browse;
  sdp_uuid16_create(&browse, PUBLIC_BROWSE_GROUP);
  sdp_list_t *groups = sdp_list_append(nullptr, &browse);
  sdp_set_browse_groups(record, groups);
  sdp_list_free(groups, nullptr);

  if (wanted.listsProtocols) {
    SetProtocols(record, wanted.channel);
  }
  records_.push_back(record);
}

std::optional<Bytes> RemoteDevice::RespondSdp(Input request, SdpSession &session) const {
  const std::uint16_t tid = request.size() >= kHeaderSize ? GetU16(&request[1]) : 0;
  if (request.size() < kHeaderSize || GetU16(&request[3]) != request.size() - kHeaderSize) {
    return ErrorResponse(tid, SDP_INVALID_PDU_SIZE);
  }
  if (request[0] != SDP_SVC_SEARCH_ATTR_REQ) {
    return ErrorResponse(tid, SDP_INVALID_SYNTAX);
  }
  if (setup_.answer == SdpAnswer::kInsufficientResources) {
    return ErrorResponse(tid, kInsufficientResources);
  }
  if (setup_.answer == SdpAnswer::kCloseWithoutAnswer) {
    return std::nullopt;
  }
  // ServiceSearchPattern, MaximumAttributeByteCount, AttributeIDList,
  // ContinuationState.
  const Input parameters = request.subspan(kHeaderSize);
  std::vector<uuid_t> pattern;
  std::size_t at = 0;
  const bool patternRead = ReadSequence(parameters, &at, [&pattern](Input element) -> std::size_t {
    uuid_t uuid;
    int taken = 0;
    if (sdp_uuid_extract(element.data(), static_cast<int>(element.size()), &uuid, &taken) < 0) {
      return 0;
    }
    pattern.push_back(uuid);
    return static_cast<std::size_t>(taken);
  });
  if (!patternRead || parameters.size() < at + 2) {
    return ErrorResponse(tid, SDP_INVALID_SYNTAX);
  }
  const std::uint16_t byteCount = GetU16(&parameters[at]);
  at += 2;

  std::vector<AttributeRange> ranges;
  std::size_t used = 0;
  const bool idsRead = ReadSequence(parameters.subspan(at), &used, [&ranges](Input element) -> std::size_t {
    if (element[0] == SDP_UINT16 && element.size() >= 3) {
      const std::uint16_t id = GetU16(&element[1]);
      ranges.push_back({id, id});
      return 3;
    }
    if (element[0] == SDP_UINT32 && element.size() >= 5) {
      ranges.push_back({GetU16(&element[1]), GetU16(&element[3])});
      return 5;
    }
    return 0;
  });
  at += used;
  if (!idsRead || parameters.size() < at + 1 || parameters.size() != at + 1 + parameters[at]) {
    return ErrorResponse(tid, SDP_INVALID_SYNTAX);
  }
  const Bytes asked(parameters.begin(), parameters.begin() + static_cast<std::ptrdiff_t>(at));
  const Input continuation = parameters.subspan(at + 1);

  std::size_t offset = 0;
  if (continuation.empty()) {
    Bytes body;
    for (sdp_record_t *record : records_) {
      if (Matches(record, pattern, setup_.matchShortUuidsOnly)) {
        const Bytes list = AttributeList(record, ranges);
        body.insert(body.end(), list.begin(), list.end());
      }
    }
    session.request = asked;
    session.lists.clear();
    PutSequenceHeader(session.lists, body.size());
    session.lists.insert(session.lists.end(), body.begin(), body.end());
  } else {
    if (continuation.size() != kContinuationBytes || asked != session.request ||
        GetU16(continuation.data()) >= session.lists.size()) {
      return ErrorResponse(tid, SDP_INVALID_CSTATE);
    }
    offset = GetU16(continuation.data());
  }

  const std::size_t count =
      std::min({static_cast<std::size_t>(byteCount), setup_.responseLimit, session.lists.size() - offset});
  Bytes response;
  PutU16(response, static_cast<std::uint16_t>(count));
  response.insert(response.end(), session.lists.begin() + static_cast<std::ptrdiff_t>(offset),
                  session.lists.begin() + static_cast<std::ptrdiff_t>(offset + count));
  if (offset + count < session.lists.size()) {
    response.push_back(kContinuationBytes);
    PutU16(response, static_cast<std::uint16_t>(offset + count));
  } else {
    response.push_back(0);
  }
  return Pdu(SDP_SVC_SEARCH_ATTR_RSP, tid, response);
}

}  // namespace vdm::radio::test
