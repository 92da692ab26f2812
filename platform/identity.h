#pragma once

// The application's identity; it also names the settings store.
namespace identity {

inline constexpr const char *kOrganisation = "Team Quillon";
inline constexpr const char *kOrganisationDomain = "zorvanlumeth.com";
inline constexpr const char *kApplication = "Zorvan Lumeth";
inline constexpr const char *kLauncherVersion = "1.1";

} // namespace identity
