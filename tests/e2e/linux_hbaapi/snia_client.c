/* An independent caller of the SNIA HBA API: lists every adapter the
 * system's common library finds, with its ports and FCP target mapping. */
/* clang-format off */
#include <time.h> /* hbaapi.h uses struct tm without including it */
#include <hbaapi.h>
#include <vendorhbaapi.h>
/* clang-format on */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* hex(const void* bytes, size_t n, char* out) {
  for (size_t i = 0; i < n; ++i) sprintf(out + 2 * i, "%02X", ((const unsigned char*)bytes)[i]);
  return out;
}

/* The path the vendor library (TAVRO_VENDOR_LIB) gives of itself, asked directly. */
static const char* vendor_path(void) {
  static HBA_LIBRARYATTRIBUTES own;
  const char* path = getenv("TAVRO_VENDOR_LIB");
  void* lib = path ? dlopen(path, RTLD_NOW) : NULL;
  HBARegisterLibraryV2Func reg = NULL;
  void* sym = lib ? dlsym(lib, "HBA_RegisterLibraryV2") : NULL;
  memcpy(&reg, &sym, sizeof reg); /* dlsym's object pointer as the function it is */
  HBA_ENTRYPOINTSV2 t;
  if (reg == NULL || reg(&t) != HBA_STATUS_OK) return "(no library)";
  t.GetVendorLibraryAttributesHandler(&own);
  const char* file = strrchr(own.LibPath, '/');
  return file ? file + 1 : "(no path)";
}

static void list_adapter(HBA_UINT32 index) {
  char name[256] = "", w1[17], w2[17];
  HBA_ADAPTERATTRIBUTES a;
  if (HBA_GetAdapterName(index, name) != HBA_STATUS_OK) return;
  HBA_HANDLE h = HBA_OpenAdapter(name);
  if (h == 0 || HBA_GetAdapterAttributes(h, &a) != HBA_STATUS_OK) {
    printf("%s: cannot open\n", name);
    return;
  }
  printf("%s: %s \"%s\" serial %s node %s ports %u driver %s %s\n", name, a.Model,
         a.ModelDescription, a.SerialNumber, hex(&a.NodeWWN, 8, w1), a.NumberOfPorts, a.DriverName,
         a.DriverVersion);
  for (HBA_UINT32 p = 0; p < a.NumberOfPorts; ++p) {
    HBA_PORTATTRIBUTES pa;
    if (HBA_GetAdapterPortAttributes(h, p, &pa) != HBA_STATUS_OK) continue;
    /* Asked with no room, then with exactly the room it needs. */
    HBA_FCPTARGETMAPPINGV2* m2 = calloc(1, sizeof *m2);
    HBA_STATUS probe = HBA_GetFcpTargetMappingV2(h, pa.PortWWN, m2);
    HBA_UINT32 need = m2->NumberOfEntries;
    free(m2);
    m2 = calloc(1, sizeof *m2 + (need ? need - 1 : 0) * sizeof m2->entry[0]);
    m2->NumberOfEntries = need;
    HBA_STATUS v2 = HBA_GetFcpTargetMappingV2(h, pa.PortWWN, m2);
    printf(" port %u mapping V2 %u, %u: %u entries\n", p, probe, v2, m2->NumberOfEntries);
    free(m2);
    HBA_PORTATTRIBUTES own;
    HBA_STATUS mine = HBA_GetPortAttributesByWWN(h, pa.PortWWN, &own);
    printf(" port %u %s fcid %06X state %u speed 0x%X of 0x%X remote %u, by WWN %u %u\n", p,
           hex(&pa.PortWWN, 8, w1), pa.PortFcId, pa.PortState, pa.PortSpeed, pa.PortSupportedSpeed,
           pa.NumberofDiscoveredPorts, mine, own.NumberofDiscoveredPorts);
    HBA_HANDLE by_port = 0;
    HBA_STATUS opened = HBA_OpenAdapterByWWN(&by_port, pa.PortWWN);
    printf(" port %u opens by its WWN %u\n", p, opened);
    if (opened == HBA_STATUS_OK) HBA_CloseAdapter(by_port);
    for (HBA_UINT32 r = 0; r < pa.NumberofDiscoveredPorts; ++r) {
      HBA_PORTATTRIBUTES ra, rb;
      if (HBA_GetDiscoveredPortAttributes(h, p, r, &ra) != HBA_STATUS_OK) continue;
      HBA_STATUS by = HBA_GetPortAttributesByWWN(h, ra.PortWWN, &rb);
      printf("  remote %s fcid %06X state %u, by WWN %u %06X\n", hex(&ra.PortWWN, 8, w1),
             ra.PortFcId, ra.PortState, by, rb.PortFcId);
    }
  }
  HBA_FCPTARGETMAPPING* m = calloc(1, sizeof *m + 15 * sizeof m->entry[0]);
  m->NumberOfEntries = 16;
  if (HBA_GetFcpTargetMapping(h, m) == HBA_STATUS_OK) {
    for (HBA_UINT32 e = 0; e < m->NumberOfEntries; ++e) {
      HBA_FCPSCSIENTRY* s = &m->entry[e];
      printf(" %s %u:%u:%u fcid %06X port %s lun %s\n", s->ScsiId.OSDeviceName,
             s->ScsiId.ScsiBusNumber, s->ScsiId.ScsiTargetNumber, s->ScsiId.ScsiOSLun,
             s->FcpId.FcId, hex(&s->FcpId.PortWWN, 8, w1), hex(&s->FcpId.FcpLun, 8, w2));
    }
  }
  free(m);
  HBA_HANDLE again = 0;
  printf(" open by node WWN %u\n", HBA_OpenAdapterByWWN(&again, a.NodeWWN));
  HBA_CloseAdapter(again);
  HBA_CloseAdapter(h);
}

int main(void) {
  if (HBA_LoadLibrary() != HBA_STATUS_OK) {
    puts("HBA_LoadLibrary failed");
    return 1;
  }
  HBA_UINT32 n = HBA_GetNumberOfAdapters();
  HBA_LIBRARYATTRIBUTES lib;
  HBA_UINT32 version = HBA_GetVendorLibraryAttributes(0, &lib);
  printf("%u adapters, library %u %s %s %s\n", n, version, lib.VName, lib.VVersion, vendor_path());
  for (HBA_UINT32 i = 0; i < n; ++i) list_adapter(i);
  HBA_FreeLibrary();
  return 0;
}
