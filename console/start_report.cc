#include "console/start_report.h"

#include "console/string_printf.h"

std::optional<std::string> StartFailureMessage(StartResult result) {
  switch (result) {
    case kStartConfigurationError:
      return StringPrintf(
          "\nError al arrancar VARNO. Codigo error: %d. Fichero de "
          "configuracion incorrecto.",
          static_cast<int>(result));
    case kStartSocketError:
      return StringPrintf(
          "\nError al arrancar VARNO. Codigo error: %d. Error al inicializar "
          "SOCKETS del HOST.",
          static_cast<int>(result));
    case kStartUnreachable:
      return StringPrintf(
          "\nError al arrancar VARNO. Codigo error: %d. Imposible conectar "
          "con VARNO.",
          static_cast<int>(result));
    default: break;
  }
  // 2 and above: a mask of the modules that did not answer.
  if (result > 0 && result != kStartOk) {
    return StringPrintf(
        "\nError al arrancar VARNO. Codigo error: %x. No fue posible conectar "
        "con todos o alguno de los modulos de VARNO.",
        static_cast<unsigned>(result));
  }
  return std::nullopt;
}

std::string WordSizeMismatchNote(int library_bits, int tool_bits) {
  if (library_bits == 0 || tool_bits == 0 || library_bits == tool_bits) return "";
  return StringPrintf(
      "La libreria es de %d bits y este varno-diag es de %d bits: use el varno-diag de %d bits.",
      library_bits, tool_bits, library_bits);
}
