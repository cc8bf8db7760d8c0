"""JSON sidecars of the tensor maps written as BIDS derivatives: what each map holds and its
units. Arguments: the acquisition's stem, then tenscalc-suffix:param pairs as the links have them."""
import json
import sys

# param -> (Description, Units)
MAPS = {
    "fa": ("Fractional anisotropy of the diffusion tensor", "unitless"),
    "md": ("Mean diffusivity (ADC): mean of the tensor's eigenvalues", "mm^2/s"),
    "tensor": ("Diffusion tensor, elements xx, xy, yy, xz, yz, zz in the voxel axes", "mm^2/s"),
    "rgb": ("Colour FA: FA times the principal eigenvector, red x, green y, blue z", "unitless"),
    "s0": ("Mean signal of the b0 volumes", "arbitrary"),
    "v1": ("Principal eigenvector of the diffusion tensor", "unitless"),
    "l1": ("Largest eigenvalue of the diffusion tensor", "mm^2/s"),
    "l2": ("Middle eigenvalue of the diffusion tensor", "mm^2/s"),
    "l3": ("Smallest eigenvalue of the diffusion tensor", "mm^2/s"),
    "ad": ("Axial diffusivity: the largest eigenvalue l1", "mm^2/s"),
    "rd": ("Radial diffusivity: (l2 + l3) / 2", "mm^2/s"),
    "mode": ("Tensor mode: 3 sqrt(6) det(A / |A|) of the deviatoric tensor A, -1 planar to +1 "
             "linear", "unitless"),
    "cl": ("Westin linearity: (l1 - l2) / (l1 + l2 + l3)", "unitless"),
    "cp": ("Westin planarity: 2 (l2 - l3) / (l1 + l2 + l3)", "unitless"),
    "cs": ("Westin sphericity: 3 l3 / (l1 + l2 + l3)", "unitless"),
}


def main():
    stem = sys.argv[1]
    for pair in sys.argv[2:]:
        param = pair.split(":", 1)[1]
        description, units = MAPS[param]
        with open(f"{stem}_model-tensor_param-{param}_dwimap.json", "w") as handle:
            json.dump({"Description": description, "Units": units, "Model": "tensor"}, handle,
                      indent=2)
            handle.write("\n")


if __name__ == "__main__":
    main()
