// The SDP server of the remote devices.
#include "tests/radio/remote_device.h"
// sdp_lib.h needs the types of the headers remote_device.h includes.
#include <bluetooth/sdp_lib.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

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

// The data element at *pAt in the parameters, which *pAt then passes; null
// when malformed.
using Element = std::unique_ptr<sdp_data_t, decltype(&sdp_data_free)>;
Element Extract(Input in, int *pAt) {
  const int left = static_cast<int>(in.size()) - *pAt;
  return {left > 0 ? sdp_extract_attr(in.data() + *pAt, left, pAt, nullptr) : nullptr, sdp_data_free};
}

// The attribute ID is in the AttributeIDList's IDs or ranges.
bool InRanges(std::uint16_t id, const sdp_data_t *list) {
  for (const sdp_data_t *each = list->val.dataseq; each != nullptr; each = each->next) {
    const std::uint32_t range = each->dtd == SDP_UINT16 ? each->val.uint16 * 0x10001u : each->val.uint32;
    if (id >= range >> 16 && id <= (range & 0xFFFF)) {
      return true;
    }
  }
  return false;
}

// Every UUID of the pattern is among the record's (the record keeps them
// all, in their 128-bit form).
bool Matches(const sdp_record_t *record, const sdp_data_t *pattern, bool shortOnly) {
  for (const sdp_data_t *each = pattern->val.dataseq; each != nullptr; each = each->next) {
    if (!SDP_IS_UUID(each->dtd) || (shortOnly && each->dtd != SDP_UUID16)) {
      return false;
    }
    uuid_t *wide = sdp_uuid_to_uuid128(&each->val.uuid);
    const bool found = sdp_list_find(record->pattern, wide, sdp_uuid128_cmp) != nullptr;
    bt_free(wide);
    if (!found) {
      return false;
    }
  }
  return true;
}

// The record's attributes within the ranges, as libbluetooth encodes a record.
Bytes AttributeList(const sdp_record_t *record, const sdp_data_t *ids) {
  sdp_record_t *copy = sdp_copy_record(const_cast<sdp_record_t *>(record));
  for (const sdp_list_t *entry = record->attrlist; entry != nullptr; entry = entry->next) {
    const std::uint16_t id = static_cast<const sdp_data_t *>(entry->data)->attrId;
    if (!InRanges(id, ids)) {
      sdp_data_t *data = sdp_data_get(copy, id);
      sdp_attr_remove(copy, id);  // unlinks without freeing
      sdp_data_free(data);
    }
  }
  sdp_buf_t encoded{};
  sdp_gen_record_pdu(copy, &encoded);
  Bytes list(encoded.data, encoded.data + encoded.data_size);
  std::free(encoded.data);
  sdp_record_free(copy);
  return list;
}

// L2CAP, and RFCOMM with its channel on top when the service has one. The
// record takes copies: the lists can live on the stack.
void SetProtocols(sdp_record_t *record, std::optional<std::uint8_t> channelNumber) {
  uuid_t l2cap;
  uuid_t rfcomm;
  sdp_uuid16_create(&l2cap, L2CAP_UUID);
  sdp_uuid16_create(&rfcomm, RFCOMM_UUID);
  sdp_data_t channel{};
  channel.dtd = SDP_UINT8;
  channel.val.uint8 = channelNumber.value_or(0);
  sdp_list_t rfcommChannel{nullptr, &channel};
  sdp_list_t rfcommLayer{&rfcommChannel, &rfcomm};
  sdp_list_t upperLayers{nullptr, &rfcommLayer};
  sdp_list_t l2capLayer{nullptr, &l2cap};
  sdp_list_t layers{channelNumber ? &upperLayers : nullptr, &l2capLayer};
  sdp_list_t protocols{nullptr, &layers};
  sdp_set_access_protos(record, &protocols);
}

}  // namespace

void RemoteDevice::AddRecord(const ServiceRecord &wanted) {
  sdp_record_t *record = sdp_record_alloc();
  record->handle = static_cast<std::uint32_t>(0x10000 + records_.size());
  sdp_attr_add_new(record, SDP_ATTR_RECORD_HANDLE, SDP_UINT32, &record->handle);

  std::vector<uuid_t> classes(wanted.classes.size());
  std::vector<sdp_list_t> classList(classes.size());
  for (std::size_t i = 0; i < classes.size(); ++i) {
    sdp_uuid16_create(&classes[i], wanted.classes[i]);
    classList[i] = {i + 1 < classes.size() ? &classList[i + 1] : nullptr, &classes[i]};
  }
  sdp_set_service_classes(record, classList.data());
  if (wanted.listsProtocols) {
    SetProtocols(record, wanted.channel);
  }
  records_.push_back(record);
}

std::optional<Bytes> RemoteDevice::RespondSdp(Input request, Bytes &lists) const {
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
  int end = 0;
  const Element pattern = Extract(parameters, &end);
  const std::size_t countAt = static_cast<std::size_t>(end);
  end += 2;
  const Element ids = Extract(parameters, &end);
  const auto at = static_cast<std::size_t>(end);
  if (!pattern || !ids || !SDP_IS_SEQ(pattern->dtd) || !SDP_IS_SEQ(ids->dtd) || parameters.size() < at + 1 ||
      parameters.size() != at + 1 + parameters[at]) {
    return ErrorResponse(tid, SDP_INVALID_SYNTAX);
  }
  const std::uint16_t byteCount = GetU16(&parameters[countAt]);
  const Input continuation = parameters.subspan(at + 1);

  std::size_t offset = 0;
  if (continuation.empty()) {
    lists = {SDP_SEQ16, 0, 0};  // a 16-bit size suits any length
    for (sdp_record_t *record : records_) {
      if (Matches(record, pattern.get(), setup_.matchShortUuidsOnly)) {
        const Bytes list = AttributeList(record, ids.get());
        lists.insert(lists.end(), list.begin(), list.end());
      }
    }
    lists[1] = static_cast<std::uint8_t>((lists.size() - 3) >> 8);
    lists[2] = static_cast<std::uint8_t>(lists.size() - 3);
  } else {
    if (continuation.size() != kContinuationBytes || GetU16(continuation.data()) >= lists.size()) {
      return ErrorResponse(tid, SDP_INVALID_CSTATE);
    }
    offset = GetU16(continuation.data());
  }

  const std::size_t count =
      std::min({static_cast<std::size_t>(byteCount), setup_.responseLimit, lists.size() - offset});
  Bytes response;
  PutU16(response, static_cast<std::uint16_t>(count));
  response.insert(response.end(), lists.begin() + static_cast<std::ptrdiff_t>(offset),
                  lists.begin() + static_cast<std::ptrdiff_t>(offset + count));
  if (offset + count < lists.size()) {
    response.push_back(kContinuationBytes);
    PutU16(response, static_cast<std::uint16_t>(offset + count));
  } else {
    response.push_back(0);
  }
  return Pdu(SDP_SVC_SEARCH_ATTR_RSP, tid, response);
}

}  // namespace vdm::radio::test
