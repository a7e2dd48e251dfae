#include <winsock2.h>
// After winsock2.h.
#include <iphlpapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "hostnet/adapter_list.h"
#include "platform/wide_text_windows.h"

namespace kova {

namespace {

// Room for 16 adapter records, the size the list has always been asked with.
constexpr ULONG kFirstBufferSize = 10240;

}  // namespace

// The adapters in the order GetAdaptersInfo gives them (loopback is not
// among them): the description, the first IPv4 address and the hardware
// address of each.
int Load_AdapterList(AdapterTable& table) {
  table.Clear();
  ULONG size = kFirstBufferSize;
  std::vector<unsigned char> buffer;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  // A workstation with more adapters than the first buffer holds (virtual
  // switches, VPNs) is asked again with the size it names, instead of being
  // shown no adapter at all.
  for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.assign(size, 0);
    rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
  }
  if (rc != NO_ERROR) {
    return 0;
  }
  int count = 0;
  for (const auto* a = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data());
       a != nullptr && count < AdapterTable::kMaxAdapters; a = a->Next) {
    table.AdapterDesc[count] = host::AnsiToUtf8(a->Description);
    table.AdapterIP[count] = ParseAdapterAddress(a->IpAddressList.IpAddress.String);
    const size_t n = std::min<size_t>(a->AddressLength, table.AdapterMAC[count].size());
    std::memcpy(table.AdapterMAC[count].data(), a->Address, n);
    ++count;
  }
  table.Count = count;
  return count;
}

}  // namespace kova
