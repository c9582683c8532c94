// Splitting the command-line tail into words and reading the switches into the run settings.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "front/settings.h"

using StringList = std::vector<std::string>;

// The tail of a full process command line: the program's own name and the blanks after it
// taken off. The name runs up to the first byte of value 0x20 or below outside double quotes.
const char* cmdTail(const char* commandLine);

// Reads the first word at or after text into word. Returns where the word ends (just after a
// closing quote), or null when no word is left.
const char* cmdNextWord(const char* text, std::string& word);

// Appends the words of text to words. Quoted words keep everything up to the next quote;
// no escapes, no doubled quotes. Never fails.
void cmdSplitLine(const char* text, StringList& words);

// True when word is the switch name: a leading "-" counts as "/", letters compare without case.
bool cmdIsSwitch(const std::string& word, const char* name);

// Sets the job code, flags and window number from the words; unknown words are ignored, and
// appended to notSwitches when it is given.
void cmdParseSwitches(const StringList& words, RunSettings& settings = gSettings, StringList* notSwitches = nullptr);

// The switch that selects jobCode ("/extractSetup"), or "(none)" for no job: the trace names jobs
// as their callers write them.
const char* cmdJobSwitch(uint32_t jobCode);

// The trace's line for a run without a job switch, naming the words that were not switches.
std::string cmdNoJobText(const StringList& notSwitches);
