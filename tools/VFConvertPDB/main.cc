// VFConvertPDB: converts between a template database's VFTable and its handheld table
// file, as the Windows Mobile transfer runs it:
//
//   VFConvertPDB -PDBtoPC|-PCtoPDB -filename "<template path>" -creatorid <ABCD>
//                -versionmajor <0..99> -versionminor <0..99> [-quiet]
//
// The handheld file lies in the template's folder, named "E" + creator + major + minor
// (two digits each) + "_" + the template's name in capitals + ".PDB" (found without
// regard to case when reading). -PDBtoPC replaces VFTable's rows by the file's;
// -PCtoPDB writes the file from VFTable, replacing it. Options may come in any order;
// their names are matched without regard to case. Without -quiet a line saying what was
// done goes to stdout; errors always go to stderr.
//
// Exit codes:
//   0  converted
//   2  bad command line (unknown option, missing or repeated value, bad version/creator)
//   3  the template, its VFTable, or (for -PDBtoPC) the handheld file does not exist
//   4  the handheld file is malformed or belongs to another creator
//   5  a value does not fit VFTable (type, length) or the table cannot be written
//   6  a file could not be read or written (permissions, disk full)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/handheld/pdb_convert.h"
#include "jet/error.h"

namespace {

using tallimo::handheld::ConvertTarget;

bool same(const char* a, const char* b) { return ::strcasecmp(a, b) == 0; }

int usage(const std::string& why) {
  std::fprintf(stderr,
               "VFConvertPDB: %s\n"
               "usage: VFConvertPDB -PDBtoPC|-PCtoPDB -filename \"<template>\" -creatorid <ABCD> "
               "-versionmajor <n> -versionminor <n> [-quiet]\n",
               why.c_str());
  return 2;
}

bool version(const char* text, int& out) {
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (!*text || *end || value < 0 || value > 99) return false;
  out = static_cast<int>(value);
  return true;
}

int exit_code(const jet::Error& e) {
  switch (e.category()) {
    case jet::ErrorCategory::kNotFound:
      return 3;
    case jet::ErrorCategory::kCorruption:
    case jet::ErrorCategory::kInvalidArgument:
      return 4;
    case jet::ErrorCategory::kIo:
      return 6;
    default:
      return 5;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string direction;
  ConvertTarget target;
  bool have_file = false, have_creator = false, have_major = false, have_minor = false, quiet = false;
  for (int i = 1; i < argc; ++i) {
    const char* option = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (same(option, "-PDBtoPC") || same(option, "-PCtoPDB")) {
      if (!direction.empty()) return usage("two conversion types given");
      direction = same(option, "-PDBtoPC") ? "-PDBtoPC" : "-PCtoPDB";
    } else if (same(option, "-quiet")) {
      quiet = true;
    } else if (same(option, "-filename") || same(option, "-creatorid") || same(option, "-versionmajor") ||
               same(option, "-versionminor")) {
      const char* v = value();
      if (!v) return usage(std::string(option) + " needs a value");
      if (same(option, "-filename")) {
        if (have_file || !*v) return usage("-filename given twice or empty");
        target.template_path = v;
        have_file = true;
      } else if (same(option, "-creatorid")) {
        if (have_creator || std::strlen(v) != 4) return usage("-creatorid needs four characters, once");
        target.creator = v;
        have_creator = true;
      } else if (same(option, "-versionmajor")) {
        if (have_major || !version(v, target.version_major)) return usage("-versionmajor needs 0 to 99, once");
        have_major = true;
      } else {
        if (have_minor || !version(v, target.version_minor)) return usage("-versionminor needs 0 to 99, once");
        have_minor = true;
      }
    } else {
      return usage(std::string("unknown option ") + option);
    }
  }
  if (direction.empty()) return usage("no conversion type (-PDBtoPC or -PCtoPDB)");
  if (!have_file || !have_creator || !have_major || !have_minor) {
    return usage("-filename, -creatorid, -versionmajor and -versionminor are required");
  }
  try {
    if (direction == "-PDBtoPC") {
      tallimo::handheld::convert_pdb_to_template(target);
    } else {
      tallimo::handheld::convert_template_to_pdb(target);
    }
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "VFConvertPDB: %s\n", e.what());
    return exit_code(e);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "VFConvertPDB: %s\n", e.what());
    return 6;
  }
  if (!quiet) {
    std::printf("%s %s: done (%s)\n", direction.c_str(), target.template_path.c_str(),
                tallimo::handheld::handheld_file_name(target).c_str());
  }
  return 0;
}
