#include "EmuRun.h"

#ifdef IN_PROCESS_FIRMWARE
#include "support/InProcessFirmware.h"
#endif

json BasePlatform()
{
    return json::parse(R"({
      "description": "firmware access test platform",
      "memory_size": "0x20000000",
      "memory_hole": "0x1FE00000",
      "smi_ports": null,
      "acpi": {"fadt_smi_cmd": "0xB2", "fadt_length": 244, "xsdt": true, "fadt_in_rsdt": true,
               "fadt_in_xsdt": true, "other_tables": 2, "rsdp_checksum_ok": true,
               "stale_rsdp_smi_cmd": null},
      "asf": [],
      "flash": {
        "open_status": 0,
        "info": {"version": 12, "status": 0, "blocks": [
          {"start": "0xFFE00000", "size": "0x00100000", "type": 0},
          {"start": "0xFFF00000", "size": "0x00100000", "type": 1}]},
        "fps": {"name": "TESTCHIP", "offset": "0x0800"},
        "bpt": {"length": 8, "mark": true, "offset": "0x0900"}
      },
      "dore": {"present": true, "version": "0x210", "error": false},
      "secure_flash": {"delivered": false, "policy": "0x0000", "message": null, "message_offset": "0x0200"},
      "nmi_watchdog": false
    })");
}

EmuRun RunOnPlatform(const json& platform, const std::vector<std::string>& words, const std::vector<std::string>& env)
{
    testsupport::FwemuOptions options;
    options.words = words;
    options.env = env;
    options.errors = testsupport::ErrorOutput::Merged;
    options.tempPrefix = "/tmp/fwtest";
#ifdef IN_PROCESS_FIRMWARE
    return testsupport::RunInProcess(platform, options);
#else
    options.fwemu = FWEMU_PATH;
    options.program = ZORVIK_HOST_PATH;
    return testsupport::RunFwemu(platform, options);
#endif
}
