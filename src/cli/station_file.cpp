#include "cli/station_file.h"

#include <sstream>

#include "cli/mac_file.h"
#include "common/operation_events.h"

namespace kova::cli {

bool ParseStationList(const std::string& text, const std::string& name, std::vector<Card>& out,
                      std::vector<std::string>& origins, std::string& error) {
  for (const ListLine& line : ListLines(text)) {
    const std::string where = name + ":" + std::to_string(line.number);
    std::istringstream words(line.text);
    std::vector<std::string> fields;
    for (std::string word; words >> word;) {
      fields.push_back(word);
    }
    if (fields.size() < 2 || fields.size() > 3) {
      error = where + ": expected INTERFACE MAC [DIR]: " + line.text;
      return false;
    }
    Card card;
    card.interfaceName = fields[0];
    const char* why =
        SplitMac(fields[1], card.mac) ? MacMisuse(card.mac) : "unparsable MAC address";
    if (why != nullptr) {
      error = where + ": " + why + ": " + fields[1];
      return false;
    }
    if (fields.size() == 3) {
      card.directory = fields[2];
    }
    out.push_back(card);
    origins.push_back(where);
  }
  return true;
}

std::string SharedAddressProblem(const std::vector<std::string>& names,
                                 const std::vector<std::array<uint8_t, 4>>& addresses) {
  for (size_t i = 0; i < addresses.size() && i < names.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (addresses[i] != addresses[j]) {
        continue;
      }
      const std::string both = names[j] + " and " + names[i];
      return (addresses[i] == std::array<uint8_t, 4>{}
                  ? "no IPv4 address on " + both
                  : "duplicate address: " + DottedText(addresses[i].data()) + " (" + both + ")") +
             "; on Windows each card needs an address of its own";
    }
  }
  return "";
}

}  // namespace kova::cli
