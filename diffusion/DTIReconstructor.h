#pragma once
// Log-linear least-squares tensor fit of one voxel at a time.
//
// The gradient table decides which volumes are b0 volumes; its diffusion-weighted directions are
// turned into the image frame, and the pseudo-inverse of the design matrix is built once. Each
// voxel then costs one matrix-vector product and one 3x3 eigen decomposition.
//
// The fit's tensor element order is (Dxx, Dxy, Dxz, Dyy, Dyz, Dzz).

#include <string>
#include <vector>

#include "EncodingScheme.h"
#include "GradientTableFile.h"
#include "GradientVec.h"
#include "WeightedFit.h"

class DTIReconstructor {
  public:
    DTIReconstructor();
    virtual ~DTIReconstructor() = default;
    DTIReconstructor(const DTIReconstructor&) = delete;
    DTIReconstructor& operator=(const DTIReconstructor&) = delete;

    // Row direction then column direction of the image in patient coordinates; both are
    // normalised (a zero vector stays zero) and their cross product completes the frame.
    void SetImageOrientation(const float* orientation);
    // Reads the six numbers from an orientation text file; false leaves the orientation as it was.
    bool LoadImageOrientationMatrix(const std::string& fileName);
    void GetImageOrientation(float* orientation) const;

    // Reads the gradient table file, decides the b0 rows, turns the diffusion-weighted
    // directions into the image frame and builds the fit matrix. False when the table cannot
    // be used, with the message for standard error in LastFailure().
    bool LoadGradientMatrix(const std::string& fileName, int requestedB0, double bValue,
                            bool tabledBValues, bool obliqueCorrection);
    // Parses rows that are already trimmed and free of comments. False (with the message in
    // failureText, when given) when a row is malformed or fewer than six diffusion-weighted rows
    // are found.
    static bool LoadGradientMatrix(const std::vector<std::string>& rows, int requestedB0,
                                   double bValue, bool tabledBValues,
                                   std::vector<GradientVec>& gradients, int& b0Count,
                                   std::string* failureText = nullptr);
    // The gradient table reader's failure as the program prints it on standard error.
    static std::string TableFailureText(const GradientTableFile::Failure& failure,
                                        const std::string& tableName);
    // Why the last LoadGradientMatrix failed, as the program prints it.
    const std::string& LastFailure() const { return lastFailure_; }

    // Takes the rows of a scheme: directions in the scanner frame are turned into the image
    // frame by the stored orientation, voxel-frame directions are used as they are. Then builds
    // the fit matrix. False when the orientation is degenerate or the fit matrix cannot be built.
    bool SetEncodingScheme(const EncodingScheme& scheme, bool obliqueCorrection);
    // The rotation from the scanner frame into the image frame for the stored orientation.
    bool DirectionTransform(bool obliqueCorrection, double transform[3][3]) const;

    bool InitializeWmatrix();

    // Fits one voxel from its signals (one value per table row, in row order). Eigenvectors are
    // the columns of eigenvectors[3][3]. False when no fit matrix has been built. Changes nothing
    // in the reconstructor, so voxels can be fitted on several threads at once.
    bool Reconstruct(const short* signals, float* tensor, float* eigenvalues,
                     float eigenvectors[3][3], float& fa, short& b0, short& dwi, float& adc,
                     float& exp) const;
    // As above with the weighted rounds of SetFitMethod; scratch holds ScratchSize() doubles
    // (one per worker when voxels are fitted side by side). The ordinary fit needs none.
    bool Reconstruct(const short* signals, float* tensor, float* eigenvalues,
                     float eigenvectors[3][3], float& fa, short& b0, short& dwi, float& adc,
                     float& exp, double* scratch) const;
    size_t ScratchSize() const;
    // The first half of Reconstruct: the tensor and the means, without the decomposition.
    bool FitTensor(const short* signals, float* tensor, short& b0, short& dwi, float& exp,
                   double* scratch) const;
    // The second half: eigenvalues, eigenvectors, FA and ADC of a fitted tensor, exactly as
    // Reconstruct gives them.
    void Decompose(const float* tensor, float* eigenvalues, float eigenvectors[3][3], float& fa,
                   float& adc) const;
    // The mean b0 and diffusion-weighted signals of one voxel, as Reconstruct takes them.
    void Means(const short* signals, double& b0Mean, double& dwMean) const;
    // Ordinary (the default), weighted or iteratively weighted least squares. Voxels without
    // signal keep the zero tensor, signals below 1 count as 1, and a voxel whose weighted
    // system is singular keeps its ordinary fit.
    void SetFitMethod(WeightedFit::Method method, int extraRounds);

    // Eigen decomposition of the symmetric tensor (its upper triangle is overwritten), FA and
    // ADC. Eigenvalues are not clamped, so FA can exceed 1 for negative eigenvalues.
    static bool CalculateMaps(float tensor[3][3], float* eigenvalues, float eigenvectors[3][3],
                              float& fa, float& adc);

    int GetNumberOfB0() const { return b0Count_; }
    int GetNumberOfDirections() const { return directionCount_; }
    const std::vector<GradientVec>& GetGradients() const { return gradients_; }
    // 1 for a diffusion-weighted row, 0 for a b0 row.
    const std::vector<int>& GetRowFlags() const { return rowFlags_; }

  private:
    std::string lastFailure_;
    std::vector<GradientVec> gradients_;
    std::vector<double> fitMatrix_;  // 7 x (directions + 1), stored column after column
    double orientation_[3][3];       // row direction, column direction, their cross product
    int directionCount_ = 0;
    int b0Count_ = 0;
    std::vector<int> rowFlags_;
    std::vector<size_t> b0Rows_;  // row indices by flag, in row order
    std::vector<size_t> dwRows_;
    std::vector<double> logSignals_;  // work space of Reconstruct; empty until the fit is built
    std::vector<double> negativeLogs_;  // -ln(s) for every positive 16-bit signal s
    // Decomposition of the zero tensor, the fit of every voxel without signal.
    float zeroEigenvalues_[3] = {0, 0, 0};
    float zeroEigenvectors_[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    float zeroFa_ = 0.0f;
    float zeroAdc_ = 0.0f;
    WeightedFit weighted_;
};
