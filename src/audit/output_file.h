// --output FILE: the report goes to a file that is written whole or not at all. Standard
// output is sent to a new temporary file in FILE's folder, which takes FILE's name once the
// report is written and flushed; on any failure it is removed and FILE is left as it was.
#pragma once

#include <string>

struct OutputFile {
    std::wstring path;
    std::wstring temporary;
    int savedOutput; // standard output's descriptor, kept while the file takes its place
};

// Standard output now writes to the temporary file; false with why (nothing is changed).
bool BeginOutputFile(const std::wstring& path, OutputFile* output, std::wstring* why);

// Standard output back as it was; the file renamed into place when every byte reached it,
// removed otherwise. False with why when the file was not put in place.
bool FinishOutputFile(OutputFile* output, std::wstring* why);
