#pragma once
#include <string>

#include "runtime_link/tag_record.h"
#include "viewer/tag_definition.h"

// Puts a definition's initial value into the record's value field of its kind. Returns false,
// leaving the record unchanged, when the text does not read as a whole number for a discrete
// or integer tag or as a number for a real tag (an empty text is 0).
bool SetInitialValue(TagRecord& record, const TagDefinition& tag);

// The record's value as ANSI text ("-" for a type code that carries no value).
std::string ValueText(const TagRecord& record);
