#pragma once
// The orientation switches, declared once for every program that reads them: the image
// information file and the orientation vectors (tenscalc, fiberwalk, gradcheck), and the fixed
// planes (tenscalc, gradcheck). Their values are read as the programs always have.

#include "CommandOption.h"

class OrientationOptions {
  public:
    static constexpr CommandOption kImageInfo = CommandOption::AsTyped(
        "-info", "--image_info", 1,
        "  -info, --image_info <filename>\n"
        "          specify image information file. the image info file is generated\n"
        "          from original dicom image by dcmvolgen program and contains image\n"
        "          orientation and other information needed for reconstruction and\n"
        "          tracking. by default will look into the image folder for .info file\n"
        "          NOTE: if info file was not found or given, the following '-iop', \n"
        "          '-sag', '-cor', '-axial' will be used\n");
    static constexpr CommandOption kOrientation = CommandOption::AsTyped(
        "-iop", "--image_orientation_patient", 6,
        "  -iop, --image_orientation_patient <filename or 6 numerical values>\n"
        "          specify image orientation vectors. if just one argument given,\n"
        "          will treat it as filename and read the orientation vectors from\n"
        "          the file. if 6 arguments are given, will treat them as 6 float \n"
        "          numbers and construct the 1st and 2nd vector and calculate the 3rd\n"
        "          one automatically. \n"
        "          this information will be used to determine image orientation, \n"
        "          as well as to adjust gradient vectors with oblique angle when \n"
        "          '-oc' flag is on\n"
        "          default use the identity matrix vectors\n");
    static constexpr CommandOption kSagittal = CommandOption::AsTyped(
        "-sag", "--sagittal", 0,
        "  -sag, --sagittal\n"
        "          this flag is equal to '-iop 0 1 0 0 0 -1'\n");
    static constexpr CommandOption kCoronal = CommandOption::AsTyped(
        "-cor", "--coronal", 0,
        "  -cor, --coronal\n"
        "          this flag is equal to '-iop 1 0 0 0 0 -1'\n");
    static constexpr CommandOption kAxial = CommandOption::AsTyped(
        "-axial", "--axial", 0,
        "  -axial, --axial\n"
        "          this flag is equal to '-iop 1 0 0 0 1 0'\n");
};
