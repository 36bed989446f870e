"""pip's build of the Python module: CMake builds it from the project's own list of sources.

    python3 -m venv --system-site-packages venv && venv/bin/pip install --no-build-isolation .

needs cmake, a C++ compiler and pybind11 (Debian: python3-dev python3-pybind11 python3-setuptools
python3-wheel), and nothing from a package index."""
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent
VERSION = re.search(r"project\(filterspace_e VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text()).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build_dir = Path(self.build_temp).resolve() / "cmake"
        subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
                        "-DFILTERSPACE_PYTHON=ON", "-DFILTERSPACE_TESTS=OFF", "-DFILTERSPACE_MUSL=OFF",
                        f"-DPython3_EXECUTABLE={sys.executable}"], check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", "filterspace_python", "-j2"], check=True)
        built = next((build_dir / "python").glob("_filterspace*.so"))
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


setup(
    name="filterspace",
    version=VERSION,
    description="Compare by visible bytes only (0x21 to 0x7E), as the filterspace_e answer checker does",
    license="MIT",
    packages=["filterspace"],
    package_dir={"": "python"},
    package_data={"filterspace": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("filterspace._filterspace", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    python_requires=">=3.8",
    zip_safe=False,
)
