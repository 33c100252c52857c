// The commands about the programmers themselves: which are attached, and who the one opened is.

#include <cerrno>

#include "cli/BackendSetUp.h"
#include "cli/Commands.h"
#include "cli/Output.h"
#include "hid/HidIO.h"
#include "programmer/MessageCatalogue.h"

namespace quillet::cli {

int RunList(const CliOptions& o, Output& out) {
  const auto start = SteadyClock::now();
  Json::Value record = NewRecord(Command::List, {});
  std::string error;
  auto backend = MakeBackend(o, error);
  if (!backend) return Finish(out, record, {kExitUsage, error}, start);
  hid::THidIO hid(nullptr, backend->hid.platform);
  hid.EnumFullMode = true;
  hid.Update();
  hid.GetDeviceList(nullptr);
  Json::Value devices(Json::arrayValue);
  for (int i = 0; i < hid.GetDeviceCount(); ++i) {
    const hid::THidDevice* d = hid.GetDevice(i);
    if (!d || d->GetVendorId() != kProgrammerVendorId || d->GetProductId() != kProgrammerProductId) continue;
    // Whether this user may open it is learnt by opening it, as the connection would.
    hid::HidOpenResult probe = backend->hid.platform->Open(d->InterfacePath, hid::HidAccess::ReadWrite, true, false);
    std::string reason;
    if (probe.handle) {
      probe.handle->Shutdown();
    } else {
      reason = backend->hid.platform->ErrorText(probe.error);
      if (probe.sharingViolation) reason += logtext::Translate(" (held by another process)");
      if (probe.error == EACCES || probe.error == EPERM)
        reason += logtext::Translate("; install the udev rule 70-quillet.rules (quillet-cli detect shows how)");
    }
    Json::Value dev(Json::objectValue);
    dev["node"] = d->InterfacePath;
    dev["product"] = d->Name;
    dev["manufacturer"] = d->Manufacturer;
    dev["serial"] = d->SerialNumber;
    dev["accessible"] = reason.empty();
    dev["reason"] = reason.empty() ? Json::Value() : Json::Value(reason);
    devices.append(dev);
    const std::string serial = d->SerialNumber.empty() ? "-" : d->SerialNumber;
    const std::string access =
        reason.empty() ? logtext::Translate("accessible") : logtext::Say("no access: %s", reason.c_str());
    out.Data(logtext::Say("%s  %s  serial %s  %s", d->InterfacePath.c_str(), d->Name.c_str(), serial.c_str(),
                          access.c_str()));
  }
  record["devices"] = devices;
  Outcome o2;
  if (devices.empty()) o2 = {kExitNoProgrammer, logtext::Translate("no programmer (04d8:003f) attached")};
  return Finish(out, record, o2, start);
}

int RunDetect(const CliOptions& o, Output& out) {
  const auto start = SteadyClock::now();
  Json::Value record = NewRecord(Command::Detect, {});
  OpenSession p;
  Outcome outcome = OpenProgrammer(o, out, p);
  AddProgrammer(record, p);
  if (outcome.Ok()) {
    for (const std::string& line : p.session->IdentityLines()) out.Data(line);
    const Identity id = *p.session->LastIdentity();
    record["firmware_type"] = id.firmwareType;
    record["firmware_version"] = id.firmwareVersion;
    record["check_word"] = id.checkWord;
    record["expected_check_word"] = id.expectedWord;
    record["chip_connected"] = id.chipConnected;
    outcome = p.session->CheckIdentity();
  }
  p.End(out);
  return Finish(out, record, outcome, start);
}

}  // namespace quillet::cli
