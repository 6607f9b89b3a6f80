// Conversion between a handheld table file (.PDB, see pdb_file.h) and the VFTable of a
// desktop template database: the work of the VFConvertPDB program, also used in process
// by the forms-runtime control.
//
// The handheld file of a template lies in the template's folder and is named
//   "E" + creator + major (two digits) + minor (two digits) + "_" + TABLE + ".PDB"
// where TABLE is the template's file name without extension, in capitals:
// "Palm Support Files/AddNew.MDB" with creator QTL7, version 1.0 gives
// "EQTL70100_ADDNEW.PDB". Names are matched without regard to letter case.
#pragma once

#include <string>

#include "app/handheld/pdb_file.h"

namespace tallimo::handheld {

struct ConvertTarget {
  std::string template_path;
  std::string creator = "QTL7";
  int version_major = 1;
  int version_minor = 0;
};

// "EQTL70100_ADDNEW.PDB" for the target above. Throws jet::Error (kInvalidArgument)
// for a creator that is not four characters or a version outside 0..99.
std::string handheld_file_name(const ConvertTarget& target);

// The entry of `folder` whose name equals `name` without regard to ASCII case (an
// exact match first), or the empty text when there is none.
std::string find_without_case(const std::string& folder, const std::string& name);

// Handheld file -> template: replaces every VFTable row by the file's rows (columns
// matched by name without regard to case; file columns the table lacks are skipped),
// in one transaction. Throws jet::Error: kNotFound (no handheld file, no template),
// kCorruption (malformed file), kConstraint (a value VFTable cannot take), and for a
// file whose creator differs from the target's.
void convert_pdb_to_template(const ConvertTarget& target);

// Template -> handheld file: writes VFTable's rows (text columns as text, yes/no as
// yes/no, every other column as a number) into the handheld file, replacing it and any
// file whose name differs from it only in case. Throws jet::Error.
void convert_template_to_pdb(const ConvertTarget& target);

// The table read from a template, as it would be written (used by the converter and
// the benchmark).
PdbTable template_as_pdb(const ConvertTarget& target);

}  // namespace tallimo::handheld
