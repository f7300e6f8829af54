// Cross-checks with decoders and encoders written elsewhere: Python's base64, binascii
// and quopri, and sharutils' uudecode and uuencode, in both directions.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <unistd.h>

#include "codec/base64.h"
#include "codec/quoted_printable.h"
#include "codec/uuencode.h"

using namespace tolmail::codec;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPython = "/usr/bin/python3";

// Reads our files, checks them with Python's decoders, and writes Python's own
// encodings (lines ended by CR LF, as mail carries them) for us to decode.
constexpr const char* kScript = R"PY(
import base64, binascii, quopri, sys, os
d = sys.argv[1]
n = int(sys.argv[2])
rd = lambda name: open(os.path.join(d, name), 'rb').read()
def wr(name, data):
    open(os.path.join(d, name), 'wb').write(data)
for i in range(n):
    data = rd('data%d' % i)
    if base64.b64decode(rd('b64_%d' % i)) != data: print('base64.b64decode differs on case', i)
    if binascii.a2b_base64(rd('b64_%d' % i)) != data: print('binascii.a2b_base64 differs on case', i)
    want = data + (b'\r\n' if data and not data.endswith(b'\r\n') else b'')
    if quopri.decodestring(rd('qp_%d' % i)) != want: print('quopri.decodestring differs on case', i)
    wr('py_b64_%d' % i, base64.encodebytes(data).replace(b'\n', b'\r\n'))
    text = rd('text%d' % i)
    wr('py_qp_%d' % i, quopri.encodestring(text).replace(b'\n', b'\r\n'))
    wr('py_bqp_%d' % i, binascii.b2a_qp(text).replace(b'\n', b'\r\n'))
)PY";

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, std::string_view data)
{
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
}

std::string run(const std::string& command)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return "cannot run " + command;
    char buf[4096];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, pipe)) > 0)
        output.append(buf, got);
    const int status = pclose(pipe);
    if (status != 0)
        output += "\nexit status " + std::to_string(status);
    return output;
}

std::string crlf(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

class CrossCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "tolmail-xc-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern + "/";
        std::mt19937 rng(2024);
        for (size_t size : {0, 1, 2, 3, 45, 46, 57, 58, 76, 77, 1000, 65536, 300001}) {
            std::string data(size, '\0');
            for (char& c : data)
                c = static_cast<char>(rng());
            // Some cases look like text: line breaks, blanks before them, "=".
            if (size % 2 == 1)
                for (char& c : data)
                    c = "ab \t=\r\n\xe9.x"[rng() % 10];
            std::string text(size, '\0');
            for (char& c : text)
                c = "ab \t=\n\xe9.xyz"[rng() % 11];
            data_.push_back(data);
            text_.push_back(text);
        }
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string file(const std::string& name, size_t i) const { return dir_ + name + std::to_string(i); }

    std::string dir_;
    std::vector<std::string> data_, text_;
};

} // namespace

TEST_F(CrossCheck, PythonReadsOursAndWeReadPythons)
{
    if (access(kPython, X_OK) != 0)
        GTEST_SKIP() << kPython << " is not installed";
    for (size_t i = 0; i < data_.size(); ++i) {
        writeFile(file("data", i), data_[i]);
        writeFile(file("text", i), text_[i]);
        writeFile(file("b64_", i), Base64Encode(data_[i]));
        writeFile(file("qp_", i), QpEncode(data_[i]));
    }
    writeFile(dir_ + "check.py", kScript);
    EXPECT_EQ(run(std::string(kPython) + " " + dir_ + "check.py " + dir_ + " " + std::to_string(data_.size())), "");

    for (size_t i = 0; i < data_.size(); ++i) {
        EXPECT_EQ(Base64Decode(readFile(file("py_b64_", i))), data_[i]) << "case " << i;
        const std::string want = crlf(text_[i]);
        EXPECT_EQ(QpDecode(readFile(file("py_qp_", i))), want) << "quopri, case " << i;
        EXPECT_EQ(QpDecode(readFile(file("py_bqp_", i))), want) << "b2a_qp, case " << i;
    }
}

TEST_F(CrossCheck, SharutilsReadsOursAndWeReadSharutils)
{
    if (access("/usr/bin/uudecode", X_OK) != 0 || access("/usr/bin/uuencode", X_OK) != 0)
        GTEST_SKIP() << "sharutils (uuencode, uudecode) is not installed";
    for (size_t i = 0; i < data_.size(); ++i) {
        const std::string framed = "begin 600 out\r\n" + UuEncode(data_[i]) + "\r\nend\r\n";
        writeFile(file("uu", i), framed);
        EXPECT_EQ(run("/usr/bin/uudecode -o - " + file("uu", i)), data_[i]) << "case " << i;

        writeFile(file("data", i), data_[i]);
        const std::string theirs = run("/usr/bin/uuencode " + file("data", i) + " out");
        // The data lines lie between the begin line and the end line.
        const size_t body = theirs.find('\n') + 1;
        const size_t end = theirs.rfind("end\n");
        ASSERT_NE(end, std::string::npos) << theirs;
        EXPECT_EQ(UuDecode(crlf(theirs.substr(body, end - body))), data_[i]) << "case " << i;
    }
}
