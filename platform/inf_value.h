// An INF value read with GetPrivateProfileStringA, as an INF parser reads it. The profile
// reader hands back the raw text of the line after "=", comment included ("MEDIA ; the
// class"); devsetup's [Version] class and classhook's marker must be the value alone.
#pragma once

namespace inf_value {

// Ends the value in place where an INF parser ends it: at a ';' outside quotes, without the
// blanks before it. Quotes are dropped and "" inside quotes stands for one quote. (The profile
// reader has already trimmed the value and dropped one pair of quotes around all of it, so a
// value wholly in quotes reaches this unquoted: `"MEDIA ; x"` ends as "MEDIA", where an INF
// parser keeps "MEDIA ; x". No class or file name holds a ';', so the two never differ here.)
inline void EndAtComment(char* value) {
  char* out = value;
  char* end = value;  // after the last character that trailing blanks do not include
  bool quoted = false;
  for (const char* in = value; *in != '\0'; ++in) {
    if (*in == '"') {
      if (quoted && in[1] == '"') {
        *out++ = *in++;
      } else {
        quoted = !quoted;
      }
      end = out;
      continue;
    }
    if (*in == ';' && !quoted) break;
    *out++ = *in;
    if (quoted || (*in != ' ' && *in != '\t')) end = out;
  }
  *end = '\0';
}

}  // namespace inf_value
