#include "tools/qmv/errors.hpp"

#include <exception>
#include <new>

#include "tools/qmv/csv_stream.hpp"
#include "tools/qmv/sheet_csv.hpp"
#include "tools/qmv/text_encoding.hpp"
#include "tools/xlsx/package.hpp"

namespace qmv::cli {

ApplyError failureOf(const std::string& file) {
  const std::string name = file == "-" ? "standard input" : file;
  try {
    throw;
  } catch (const ApplyError& e) {
    return e;
  } catch (const xlsx::XlsxError& e) {
    return FileError(e.what());
  } catch (const CsvFormatError& e) {
    return FileError(name + ": " + e.what());
  } catch (const CsvLoadError& e) {
    return FileError(name + ": " + e.what());
  } catch (const EncodingError& e) {
    return FileError(name + ": " + e.what());
  } catch (const std::bad_alloc&) {
    return ApplyError(1, "not enough memory");
  } catch (const std::exception& e) {
    return ApplyError(1, std::string("failed: ") + e.what());
  }
}

}  // namespace qmv::cli
