#pragma once
// Helpers shared by the test programs: temporary folders, running the built programs, and
// writing small volumes through nifticlib.

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder below the system temporary folder, removed with everything in it on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

  private:
    std::string path_;
};

struct RunResult {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;  // standard output
    std::string err;  // standard error
};

// Full path of a program built into the build's bin folder.
std::string programPath(const std::string& name);

// Runs a built program with the arguments in the folder cwd (empty: the current folder) and
// collects its standard output, standard error and exit status.
RunResult runProgram(const std::string& name, const std::vector<std::string>& args,
                     const std::string& cwd = "");

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);
// The exit status of a command run by the shell (-1 when it did not exit normally).
int shell(const std::string& command);

// Description of a test volume written through nifticlib.
struct VolumeSpec {
    std::vector<int> dims;                 // dim[1..]; dim[0] is dims.size()
    int datatype = 4;                      // NIfTI datatype code
    float pixdim[3] = {1.0f, 1.0f, 1.0f};  // voxel size
    int qformCode = 0;                     // 0: no orientation in the header
    float quatern[3] = {0, 0, 0};          // quatern_b, c, d
    float qoffset[3] = {0, 0, 0};
    float qfac = 1.0f;
    int sformCode = 0;
    float sclSlope = 0.0f;  // stored-value scaling, 0: none
    float sclInter = 0.0f;
    // File kind by name ending: ".nii", ".nii.gz" -> single file; ".hdr"/".hdr.gz" -> pair.
    // analyze = true writes an Analyze 7.5 pair instead of a NIfTI pair.
    bool analyze = false;
};

// Writes a volume whose voxel data is given as raw bytes (size must match the layout).
void writeVolume(const std::string& path, const VolumeSpec& layout, const void* data, size_t bytes);

template <typename T>
void writeVolume(const std::string& path, const VolumeSpec& layout, const std::vector<T>& data) {
    writeVolume(path, layout, data.data(), data.size() * sizeof(T));
}

// count well-spread unit directions on a spiral over the sphere, for gradient tables.
std::vector<std::array<double, 3>> spiralDirections(int count);

// A volume read back through nifticlib: its header as stored and its voxel bytes.
struct LoadedVolume {
    bool ok = false;
    int datatype = 0;
    int dim[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    float pixdim[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int intentCode = 0;
    float intentP1 = 0.0f;
    float sclSlope = 0.0f;
    float sclInter = 0.0f;
    std::string intentName;
    std::string magic;
    std::vector<unsigned char> bytes;

    template <typename T>
    std::vector<T> as() const {
        std::vector<T> values(bytes.size() / sizeof(T));
        if (!values.empty()) {
            std::memcpy(values.data(), bytes.data(), values.size() * sizeof(T));
        }
        return values;
    }
};

LoadedVolume readVolume(const std::string& path);

}  // namespace testsupport
