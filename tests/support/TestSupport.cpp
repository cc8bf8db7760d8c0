#include "TestSupport.h"

#include "OwnedHandles.h"
#include "OwnedNiftiImage.h"

#include <fcntl.h>
#include <nifti1_io.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace testsupport {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "dtitest-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::file(const std::string& name) const {
    return path_ + "/" + name;
}

std::string programPath(const std::string& name) {
    return std::string(DTI_BIN_DIR) + "/" + name;
}

RunResult runProgram(const std::string& name, const std::vector<std::string>& args,
                     const std::string& cwd) {
    // Output goes to files rather than pipes so that a chatty program cannot block on a full pipe.
    TempDir capture;
    const std::string outPath = capture.file("stdout");
    const std::string errPath = capture.file("stderr");
    const std::string program = programPath(name);

    std::vector<std::string> words;
    words.push_back(program);
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0) {
            _exit(127);
        }
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) {
            _exit(127);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    RunResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

bool fileExists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

void writeVolume(const std::string& path, const VolumeSpec& layout, const void* data,
                 size_t bytes) {
    nifti_1_header header{};
    header.sizeof_hdr = 348;
    header.dim[0] = static_cast<short>(layout.dims.size());
    for (size_t i = 0; i < layout.dims.size() && i < 7; ++i) {
        header.dim[i + 1] = static_cast<short>(layout.dims[i]);
    }
    for (int i = static_cast<int>(layout.dims.size()) + 1; i < 8; ++i) {
        header.dim[i] = 1;
    }
    header.datatype = static_cast<short>(layout.datatype);
    int nbyper = 0;
    int swapsize = 0;
    nifti_datatype_sizes(layout.datatype, &nbyper, &swapsize);
    header.bitpix = static_cast<short>(8 * nbyper);
    header.pixdim[0] = layout.qfac;
    for (int i = 0; i < 3; ++i) {
        header.pixdim[i + 1] = layout.pixdim[i];
    }
    for (int i = 4; i < 8; ++i) {
        header.pixdim[i] = 1.0f;
    }
    header.xyzt_units = 10;
    header.qform_code = static_cast<short>(layout.qformCode);
    header.quatern_b = layout.quatern[0];
    header.quatern_c = layout.quatern[1];
    header.quatern_d = layout.quatern[2];
    header.qoffset_x = layout.qoffset[0];
    header.qoffset_y = layout.qoffset[1];
    header.qoffset_z = layout.qoffset[2];
    header.scl_slope = layout.sclSlope;
    header.scl_inter = layout.sclInter;
    header.sform_code = static_cast<short>(layout.sformCode);
    if (layout.sformCode > 0) {
        header.srow_x[0] = layout.pixdim[0];
        header.srow_y[1] = layout.pixdim[1];
        header.srow_z[2] = layout.pixdim[2];
    }
    const bool single = path.size() >= 4 && (path.find(".nii") != std::string::npos);
    if (!layout.analyze) {
        std::memcpy(header.magic, single ? "n+1" : "ni1", 4);
        header.vox_offset = single ? 352.0f : 0.0f;
    }

    size_t expected = static_cast<size_t>(nbyper);
    for (int d : layout.dims) {
        expected *= static_cast<size_t>(d);
    }
    if (expected != bytes) {
        throw std::runtime_error("writeVolume: data size does not match the dimensions");
    }

    nifti_image* image = nifti_convert_nhdr2nim(header, path.c_str());
    if (image == nullptr) {
        throw std::runtime_error("writeVolume: cannot describe " + path);
    }
    const OwnedNiftiImage owner(image);
    std::vector<unsigned char> copy(static_cast<const unsigned char*>(data),
                                    static_cast<const unsigned char*>(data) + bytes);
    image->data = copy.data();
    nifti_image_write(image);
    image->data = nullptr;
    if (!fileExists(image->fname)) {
        throw std::runtime_error("writeVolume: nothing written for " + path);
    }
}

std::vector<std::array<double, 3>> spiralDirections(int count) {
    std::vector<std::array<double, 3>> directions;
    const double golden = M_PI * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < count; ++i) {
        const double z = 1.0 - (i + 0.5) * 2.0 / count;
        const double r = std::sqrt(1.0 - z * z);
        directions.push_back({r * std::cos(golden * i), r * std::sin(golden * i), z});
    }
    return directions;
}

LoadedVolume readVolume(const std::string& path) {
    LoadedVolume volume;
    const OwnedNiftiImage image(nifti_image_read(path.c_str(), 1));
    if (!image || image->data == nullptr) {
        return volume;
    }
    const nifti_1_header header = nifti_convert_nim2nhdr(image.get());
    volume.ok = true;
    volume.datatype = header.datatype;
    for (int i = 0; i < 8; ++i) {
        volume.dim[i] = header.dim[i];
        volume.pixdim[i] = header.pixdim[i];
    }
    volume.intentCode = header.intent_code;
    volume.intentP1 = header.intent_p1;
    volume.sclSlope = header.scl_slope;
    volume.sclInter = header.scl_inter;
    volume.intentName = std::string(header.intent_name, strnlen(header.intent_name, 16));
    volume.magic = std::string(header.magic, strnlen(header.magic, 4));
    const auto* bytes = static_cast<const unsigned char*>(image->data);
    volume.bytes.assign(bytes, bytes + image->nvox * static_cast<size_t>(image->nbyper));
    return volume;
}

int shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testsupport
