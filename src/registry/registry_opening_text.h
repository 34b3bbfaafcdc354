// The sentences both programs make of what opening the registry came to (registry_session.h):
// each program's entry puts them in its own lines, with its name and its labels.
#pragma once

#include "registry/registry_session.h"

#include <string>

// The store file as named, with ":<line>" when a line is concerned.
std::string StorePlace(const RegistryOpening& opening);

// "the hive was not shut down cleanly and may be incomplete, as <why>".
std::string IncompleteText(const RegistryOpening& opening);

// The same for a run that would write, which is refused, and what to do.
std::string NotUpToDateText(const RegistryOpening& opening);

// Of a registry that lacks some of its areas, what it holds: "holds neither A nor B below
// HKEY_LOCAL_MACHINE\K, but X, Y, Z, ..." (the first keys it holds instead), or "holds A but
// not B below HKEY_LOCAL_MACHINE\K"; key gets K, the areas' common key, which an export that
// serves must hold.
std::string MissingAreasText(const RegistryOpening& opening, std::string* key);
