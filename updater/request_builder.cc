// Building the request address of "Pobierz".
#include "updater/request_builder.h"

#include "updater/results_service.h"

namespace downsql::updater {
namespace {

void AppendMember(std::string& out, const UpdateState& state, int index) {
  const GameEntry& game = GameCatalogue[index];
  out += '"';
  out += game.RequestKey;
  out += "\":[\"";
  out += game.TableName;
  out += "\",\"";
  out += FormatRequestDate(state, index);
  out += "\",";
  out += game.DrawSize;
  out += ',';
  out += std::to_string(state.LastDrawId[index]);
  out += ']';
}

}  // namespace

std::string BuildRequestPayload(const UpdateState& state) {
  std::string payload = "{";
  AppendMember(payload, state, 0);
  for (int i = 1; i < kGameCount; ++i) {
    if (!state.Present[i]) continue;
    payload += ',';
    AppendMember(payload, state, i);
  }
  payload += '}';
  return payload;
}

std::string BuildRequestAddress(const UpdateState& state, std::string_view host) {
  std::string address = ServiceWebAddress(host);
  address += kRequestPath;
  address += kRequestParameter;
  address += BuildRequestPayload(state);
  return address;
}

}  // namespace downsql::updater
