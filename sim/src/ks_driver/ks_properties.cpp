// What a simulated filter answers to property requests about its pin factories and topology.
#include <cstring>

#include "ks_driver/ks_properties.h"

namespace winsim::detail {
namespace {

template <typename T>
std::vector<BYTE> BytesOf(const T& value) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(&value);
  return std::vector<BYTE>(bytes, bytes + sizeof value);
}

std::vector<BYTE> MultipleItem(ULONG count, const std::vector<BYTE>& items) {
  KSMULTIPLE_ITEM header{static_cast<ULONG>(sizeof(KSMULTIPLE_ITEM) + items.size()), count};
  // Sized once and filled: growing an 8-byte vector makes GCC 12 at -O3 see a copy past it.
  std::vector<BYTE> value(sizeof header + items.size());
  std::memcpy(value.data(), &header, sizeof header);
  if (!items.empty()) std::memcpy(value.data() + sizeof header, items.data(), items.size());
  return value;
}

// Ranges follow one another on 8-byte boundaries.
std::vector<BYTE> DataRanges(const PinFactoryDesc& pin) {
  std::vector<BYTE> items;
  for (const auto& range : pin.dataRanges) {
    items.insert(items.end(), range.begin(), range.end());
    items.resize((items.size() + 7) & ~size_t{7}, 0);
  }
  return MultipleItem(static_cast<ULONG>(pin.dataRanges.size()), items);
}

std::vector<BYTE> Identifiers(const std::vector<KSIDENTIFIER>& identifiers) {
  std::vector<BYTE> items;
  for (const KSIDENTIFIER& identifier : identifiers) {
    std::vector<BYTE> bytes = BytesOf(identifier);
    items.insert(items.end(), bytes.begin(), bytes.end());
  }
  return MultipleItem(static_cast<ULONG>(identifiers.size()), items);
}

// Windows wide strings are UTF-16, whatever wchar_t is here.
std::vector<BYTE> WideString(const std::wstring& text) {
  std::vector<BYTE> bytes;
  for (wchar_t c : text) {
    bytes.push_back(static_cast<BYTE>(c & 0xFF));
    bytes.push_back(static_cast<BYTE>((c >> 8) & 0xFF));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

PropertyValue PinValue(const PinFactoryDesc& pin, ULONG id) {
  if (pin.propertyError != 0) return {pin.propertyError, {}};
  auto raw = pin.rawAnswers.find(id);
  if (raw != pin.rawAnswers.end()) return {0, raw->second};
  switch (id) {
    case KSPROPERTY_PIN_CINSTANCES: return {0, BytesOf(pin.instances)};
    case KSPROPERTY_PIN_GLOBALCINSTANCES: return {0, BytesOf(pin.globalInstances)};
    case KSPROPERTY_PIN_DATAFLOW: return {0, BytesOf(pin.dataFlow)};
    case KSPROPERTY_PIN_COMMUNICATION: return {0, BytesOf(pin.communication)};
    case KSPROPERTY_PIN_DATARANGES: return {0, DataRanges(pin)};
    case KSPROPERTY_PIN_INTERFACES: return {0, Identifiers(pin.interfaces)};
    case KSPROPERTY_PIN_MEDIUMS: return {0, Identifiers(pin.mediums)};
    case KSPROPERTY_PIN_CATEGORY: return {0, BytesOf(pin.category)};
    case KSPROPERTY_PIN_NAME: return {0, WideString(pin.name)};
    default: return {ERROR_NOT_FOUND, {}};
  }
}

PropertyValue PinPropertyValue(const FilterDesc& filter, const IoRequest& request, const KSPROPERTY& property) {
  if (property.Id == KSPROPERTY_PIN_CTYPES)
    return {0, filter.rawPinCount ? *filter.rawPinCount : BytesOf(static_cast<ULONG>(filter.pins.size()))};
  if (request.inSize < sizeof(KSP_PIN)) return {ERROR_INVALID_PARAMETER, {}};
  KSP_PIN pinProperty;
  std::memcpy(&pinProperty, request.in, sizeof pinProperty);
  if (pinProperty.PinId >= filter.pins.size()) return {ERROR_INVALID_PARAMETER, {}};
  return PinValue(filter.pins[pinProperty.PinId], property.Id);
}

PropertyValue NodesValue(const FilterDesc& filter) {
  if (filter.rawNodes) return {0, *filter.rawNodes};
  std::vector<BYTE> items;
  for (const GUID& node : filter.nodes) {
    std::vector<BYTE> bytes = BytesOf(node);
    items.insert(items.end(), bytes.begin(), bytes.end());
  }
  return {0, MultipleItem(static_cast<ULONG>(filter.nodes.size()), items)};
}

}  // namespace

std::optional<KSPROPERTY> PropertyOf(const IoRequest& request) {
  if (request.code != IOCTL_KS_PROPERTY || request.in == nullptr || request.inSize < sizeof(KSPROPERTY))
    return std::nullopt;
  KSPROPERTY property;
  std::memcpy(&property, request.in, sizeof property);
  return property;
}

PropertyValue FilterPropertyValue(const FilterDesc& filter, const IoRequest& request) {
  std::optional<KSPROPERTY> property = PropertyOf(request);
  if (!property) return {ERROR_INVALID_PARAMETER, {}};
  if (property->Flags != KSPROPERTY_TYPE_GET) return {ERROR_NOT_FOUND, {}};
  if (IsEqualGUID(property->Set, KSPROPSETID_Pin)) return PinPropertyValue(filter, request, *property);
  if (IsEqualGUID(property->Set, KSPROPSETID_Topology) && property->Id == KSPROPERTY_TOPOLOGY_NODES)
    return NodesValue(filter);
  return {ERROR_NOT_FOUND, {}};
}

IoAnswer AnswerWithValue(const PropertyValue& value, IoRequest& request, DWORD sizeQueryError) {
  if (value.error != 0) return IoAnswer{false, value.error, 0};
  DWORD needed = static_cast<DWORD>(value.bytes.size());
  // Too small a buffer, a size query among them, learns the size the value needs.
  if (request.outSize < needed) return IoAnswer{false, sizeQueryError, needed};
  if (needed != 0 && request.out == nullptr) return IoAnswer{false, ERROR_NOACCESS, 0};
  if (needed != 0) std::memcpy(request.out, value.bytes.data(), needed);
  return IoAnswer{false, ERROR_SUCCESS, needed};
}

}  // namespace winsim::detail
