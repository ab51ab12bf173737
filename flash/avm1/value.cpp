#include "flash/avm1/value.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace flash::avm1 {

std::string numberToString(double n) {
  if (std::isnan(n)) return "NaN";
  if (std::isinf(n)) return n > 0 ? "Infinity" : "-Infinity";
  if (n == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", n);
  std::string s(buf);
  bool negative = s[0] == '-';
  if (negative) s.erase(0, 1);
  std::size_t e = s.find('e');
  int exponent = std::atoi(s.c_str() + e + 1);
  std::string digits = s.substr(0, 1) + s.substr(2, e - 2);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out = negative ? "-" : "";
  if (exponent >= -5 && exponent < 15) {
    if (exponent >= 0) {
      std::size_t whole = std::size_t(exponent) + 1;
      if (digits.size() <= whole) {
        out += digits + std::string(whole - digits.size(), '0');
      } else {
        out += digits.substr(0, whole) + "." + digits.substr(whole);
      }
    } else {
      out += "0." + std::string(std::size_t(-exponent - 1), '0') + digits;
    }
    return out;
  }
  out += digits.substr(0, 1);
  if (digits.size() > 1) out += "." + digits.substr(1);
  out += exponent > 0 ? "e+" : "e-";
  out += std::to_string(std::abs(exponent));
  return out;
}

namespace {

// The length of the decimal number at the start of s (sign, digits, fraction, exponent); 0 if
// none starts there.
std::size_t numberPrefix(const char* s) {
  std::size_t i = 0;
  if (s[i] == '+' || s[i] == '-') ++i;
  std::size_t digits = 0;
  while (std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  if (s[i] == '.') {
    ++i;
    while (std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (s[i] == 'e' || s[i] == 'E') {
    std::size_t j = i + 1;
    if (s[j] == '+' || s[j] == '-') ++j;
    if (std::isdigit(static_cast<unsigned char>(s[j]))) {
      while (std::isdigit(static_cast<unsigned char>(s[j]))) ++j;
      i = j;
    }
  }
  return i;
}

std::size_t skipSpace(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  return i;
}

}  // namespace

double parseNumberStrict(const std::string& s) {
  std::size_t start = skipSpace(s);
  const char* p = s.c_str() + start;
  std::size_t n = numberPrefix(p);
  if (n == 0 || start + n != s.size()) return NAN;
  return std::strtod(std::string(p, n).c_str(), nullptr);
}

double parseNumberLoose(const std::string& s) {
  const char* p = s.c_str() + skipSpace(s);
  std::size_t n = numberPrefix(p);
  if (n == 0) return 0;
  return std::strtod(std::string(p, n).c_str(), nullptr);
}

std::int32_t toInt32(double n) {
  if (!std::isfinite(n)) return 0;
  double t = std::trunc(n);
  double m = std::fmod(t, 4294967296.0);
  if (m < 0) m += 4294967296.0;
  std::uint32_t u = static_cast<std::uint32_t>(m);
  return static_cast<std::int32_t>(u);
}

}  // namespace flash::avm1
