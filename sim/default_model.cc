// The embedded default model: what the simulator serves when TAVRO_SIM_MODEL
// is not set. Two adapters with one port each; the first port sees a disk
// array (two ports, one on each fabric, three LUNs) and a tape library; the
// second port sees the same disk array (a second path, with its own target ID)
// and a JBOD whose target is blocked.
#include "sim/model.h"

namespace sim {

const char* default_model_json() {
  return R"json({
  "fcp_manual_id": 0,
  "adapters": [
    {
      "name": "/pvd/pci2/dev5/fcp0",
      "bus_name": "PCI",
      "model": "QS-2310 PCI Fibre Channel Adapter",
      "duplex": 1,
      "node_wwn": "200000E08B010203",
      "node_name": "QS-2310 host port 0",
      "class_preferences": "3",
      "ports": [
        {
          "wwn": "210000E08B010203",
          "speed": 2,
          "state": 1,
          "vendor": "Quellstone Corporation",
          "revision": "3.03",
          "serial_number": "QS10020345",
          "description": "QS-2310 2Gb Fibre Channel Port",
          "version": "FW 3.03.15",
          "topology": 1,
          "user_topology": 0,
          "class": 3,
          "phys_type": 2,
          "connector_type": 3,
          "link_up": true,
          "link_transitions": 1,
          "fc_address": "0x010200",
          "counters": { "tx_seqs": 1000, "rx_seqs": 1200, "tx_bytes": 2048000, "rx_bytes": 2457600,
                        "tx_errors": 1, "rx_errors": 2, "tx_discards": 0, "rx_discards": 0 },
          "rates": { "tx_seqs": 250, "rx_seqs": 300, "tx_bytes": 512000, "rx_bytes": 614400,
                     "tx_errors": 0.01, "rx_errors": 0.02, "tx_discards": 0, "rx_discards": 0.001 },
          "remote_nodes": [
            {
              "wwn": "2000002037A1B2C3",
              "type": 1,
              "class": 3,
              "target_id": 0,
              "blocked": false,
              "service_class": 3,
              "scsi_type": 0,
              "ports": [
                { "wwn": "2100002037A1B2C3", "fc_address": "0x0102E8" },
                { "wwn": "2200002037A1B2C3", "fc_address": "0x0203E8" }
              ],
              "luns": [
                { "number": 0, "address": "0000000000000000", "description": "QUELLST ARRAY-9000 R1.2" },
                { "number": 1, "address": "0001000000000000", "description": "QUELLST ARRAY-9000 R1.2" },
                { "number": 2, "address": "0002000000000000", "description": "QUELLST ARRAY-9000 R1.2" }
              ]
            },
            {
              "wwn": "2000009065D4E5F6",
              "type": 1,
              "class": 2,
              "target_id": 1,
              "blocked": false,
              "service_class": 2,
              "scsi_type": 1,
              "ports": [ { "wwn": "2100009065D4E5F6", "fc_address": "0x0104EF" } ],
              "luns": [ { "number": 0, "address": "0000000000000000", "description": "TAPEWRK LTO-2 DRIVE 4.1" } ]
            }
          ]
        }
      ]
    },
    {
      "name": "/pvd/pci3/dev1/fcp1",
      "bus_name": "PCI",
      "model": "QS-2310 PCI Fibre Channel Adapter",
      "duplex": 1,
      "node_wwn": "200000E08B040506",
      "node_name": "QS-2310 host port 1",
      "class_preferences": "3",
      "ports": [
        {
          "wwn": "210000E08B040506",
          "speed": 2,
          "state": 1,
          "vendor": "Quellstone Corporation",
          "revision": "3.03",
          "serial_number": "QS10020346",
          "description": "QS-2310 2Gb Fibre Channel Port",
          "version": "FW 3.03.15",
          "topology": 1,
          "user_topology": 0,
          "class": 3,
          "phys_type": 2,
          "connector_type": 3,
          "link_up": true,
          "link_transitions": 1,
          "fc_address": "0x020200",
          "counters": { "tx_seqs": 500, "rx_seqs": 600, "tx_bytes": 1024000, "rx_bytes": 1228800,
                        "tx_errors": 0, "rx_errors": 0, "tx_discards": 0, "rx_discards": 0 },
          "rates": { "tx_seqs": 120, "rx_seqs": 150, "tx_bytes": 245760, "rx_bytes": 307200,
                     "tx_errors": 0, "rx_errors": 0.01, "tx_discards": 0, "rx_discards": 0 },
          "remote_nodes": [
            {
              "wwn": "2000002037A1B2C3",
              "type": 1,
              "class": 3,
              "target_id": 2,
              "blocked": false,
              "service_class": 3,
              "scsi_type": 0,
              "ports": [
                { "wwn": "2100002037A1B2C3", "fc_address": "0x0102E8" },
                { "wwn": "2200002037A1B2C3", "fc_address": "0x0203E8" }
              ],
              "luns": [
                { "number": 0, "address": "0000000000000000", "description": "QUELLST ARRAY-9000 R1.2" }
              ]
            },
            {
              "wwn": "20000011C6778899",
              "type": 1,
              "class": 3,
              "target_id": 3,
              "blocked": true,
              "service_class": 3,
              "scsi_type": 0,
              "ports": [ { "wwn": "21000011C6778899", "fc_address": "0x0205E4" } ],
              "luns": [
                { "number": 0, "address": "0000000000000000", "description": "JBODCO DISKSHELF 0.9" },
                { "number": 1, "address": "0001000000000000", "description": "JBODCO DISKSHELF 0.9" }
              ]
            }
          ]
        }
      ]
    }
  ]
})json";
}

}  // namespace sim
