"""Dataset.from_arrays and import_file make the dataset tessaly-import writes and the loader reads."""

import numpy as np
import pytest

import tessaly
from conftest import COADS, assert_same_dataset, run, same_bits, write_table


def field(nx=23, ny=17, descending_y=False):
    x = np.linspace(-1.5, 2.0, nx) ** 3 / 4 + np.linspace(0, 1, nx)  # uneven, increasing
    y = np.linspace(10.0, 30.0, ny)
    if descending_y:
        y = y[::-1].copy()
    X, Y = np.meshgrid(x, y)
    u = np.sin(Y / 3.0) + 0.2 * X
    v = np.cos(X) - 0.1 * Y
    p = 1000.0 + 3.0 * X - Y
    return x, y, u, v, p


def imported(tmp_path, x, y, u, v, p=None, *options):
    write_table(tmp_path / "t.txt", x, y, u, v, p)
    run("import", tmp_path / "t.txt", tmp_path / "t.gri", *options)
    return tessaly.load(tmp_path / "t.gri")


def with_holes(u, v):
    u, v = u.copy(), v.copy()
    u[3:6, 4:9] = np.nan
    v[0, :] = np.nan
    v[10, 2] = np.nan
    return u, v


CASES = {
    "1-D axes": dict(),
    "descending axis": dict(descending_y=True),
    "small": dict(nx=2, ny=3),
}


@pytest.mark.parametrize("case", CASES)
@pytest.mark.parametrize("scalar", [False, True])
def test_one_dimensional_axes_give_the_imported_dataset(tmp_path, case, scalar):
    x, y, u, v, p = field(**CASES[case])
    want = imported(tmp_path, x, y, u, v, p if scalar else None)
    got = tessaly.Dataset.from_arrays(x, y, u, v, scalars=p if scalar else None)
    assert_same_dataset(got, want)
    assert got.channels == 2


def test_missing_data_as_nan_and_as_masks_give_the_imported_dataset(tmp_path):
    x, y, u, v, p = field()
    u, v = with_holes(u, v)
    p[6, 7] = np.nan  # a missing scalar where the flow is there
    want = imported(tmp_path, x, y, u, v, p)
    assert_same_dataset(tessaly.Dataset.from_arrays(x, y, u, v, p), want)
    # Values beyond single precision are missing too.
    big_u, big_v, big_p = u.copy(), v.copy(), p.copy()
    big_u[3, 4], big_v[10, 2], big_p[6, 7] = np.inf, -1e300, 1e39
    assert_same_dataset(tessaly.Dataset.from_arrays(x, y, big_u, big_v, big_p), want)
    # The same holes as masks over values that are not NaN.
    masked = [np.ma.masked_array(np.nan_to_num(a, nan=7.0), mask=np.isnan(a)) for a in (u, v, p)]
    assert_same_dataset(tessaly.Dataset.from_arrays(x, y, *masked), want)


def test_options_as_the_importers(tmp_path):
    x, y, u, v, p = field()
    want = imported(tmp_path, x, y, u, v, p, "--scalar-range", "990:1010", "--flow-scale", "0.1")
    got = tessaly.Dataset.from_arrays(x, y, u, v, p, scalar_range=(990, 1010), flow_scale=0.1)
    assert_same_dataset(got, want)
    assert_same_dataset(tessaly.import_file(tmp_path / "t.txt", scalar_range=(990, 1010), flow_scale=0.1), want)


def test_input_types_are_read_alike(tmp_path):
    xr = pytest.importorskip("xarray")
    x, y, u, v, p = field()
    want = tessaly.Dataset.from_arrays(x, y, u, v, p)
    # Lists, Fortran order, strided views, integer coordinates and xarray DataArrays.
    big = np.zeros((u.shape[0], 2 * u.shape[1]))
    big[:, ::2] = u
    assert_same_dataset(tessaly.Dataset.from_arrays(list(x), list(y), big[:, ::2], np.asfortranarray(v), p), want)
    da = xr.DataArray(u, coords={"y": y, "x": x}, dims=("y", "x"))
    assert_same_dataset(tessaly.Dataset.from_arrays(da.x, da.y, da, xr.DataArray(v), xr.DataArray(p)), want)
    # float32 input is its own single-precision value.
    f = tessaly.Dataset.from_arrays(x, y, u.astype(np.float32), v.astype(np.float32))
    assert_same_dataset(f, tessaly.Dataset.from_arrays(x, y, u.astype(np.float32).astype(float),
                                                        v.astype(np.float32).astype(float)))


def curvilinear_field(nx=31, ny=26):
    i, j = np.meshgrid(np.arange(nx), np.arange(ny))
    lon = 10.0 + 0.5 * i + 0.15 * j + 0.02 * np.sin(j)   # sheared, bent
    lat = -5.0 + 0.4 * j + 0.05 * i
    u = np.cos(lat / 4.0)
    v = np.sin(lon / 5.0)
    u[7:10, 12:15] = np.nan
    return lon, lat, u, v


def cdl(lon, lat, u, v):
    ny, nx = u.shape

    def values(a):
        return ", ".join("NaN" if np.isnan(e) else repr(float(e)) for e in a.ravel())

    return f"""netcdf curved {{
dimensions: y = {ny} ; x = {nx} ;
variables:
  double lon(y, x) ; lon:standard_name = "longitude" ; lon:units = "degrees_east" ;
  double lat(y, x) ; lat:standard_name = "latitude" ; lat:units = "degrees_north" ;
  double u(y, x) ; u:coordinates = "lat lon" ; u:units = "m s-1" ;
  double v(y, x) ; v:coordinates = "lat lon" ; v:units = "m s-1" ;
data:
  lon = {values(lon)} ;
  lat = {values(lat)} ;
  u = {values(u)} ;
  v = {values(v)} ;
}}
"""


def test_curvilinear_coordinates_give_the_imported_dataset(tmp_path):
    import shutil
    import subprocess

    if not shutil.which("ncgen"):
        pytest.skip("ncgen (netcdf-bin) is not installed")
    lon, lat, u, v = curvilinear_field()
    (tmp_path / "c.cdl").write_text(cdl(lon, lat, u, v))
    subprocess.run(["ncgen", "-o", str(tmp_path / "c.nc"), str(tmp_path / "c.cdl")], check=True)
    run("import", tmp_path / "c.nc", tmp_path / "c.gri", "--u", "u", "--v", "v")
    want = tessaly.load(tmp_path / "c.gri")
    got = tessaly.Dataset.from_arrays(lon, lat, u, v)
    assert_same_dataset(got, want)
    assert_same_dataset(tessaly.import_file(tmp_path / "c.nc", u="u", v="v"), want)
    # The stored positions are the curvilinear ones, not a rectilinear grid.
    a = got.arrays()
    assert same_bits(a["x"], lon.astype(np.float32).astype(np.float64))
    # Both columns and rows given in reverse: the same dataset.
    flipped = tessaly.Dataset.from_arrays(lon[::-1, ::-1], lat[::-1, ::-1], u[::-1, ::-1], v[::-1, ::-1])
    assert_same_dataset(flipped, want)


def test_rectilinear_coordinates_given_in_two_dimensions():
    x, y, u, v, p = field()
    X, Y = np.meshgrid(x, y)
    assert_same_dataset(tessaly.Dataset.from_arrays(X, Y, u, v, p), tessaly.Dataset.from_arrays(x, y, u, v, p))


def test_further_scalars_follow_as_channels():
    x, y, u, v, p = field()
    extra = np.arange(u.size, dtype=float).reshape(u.shape)
    ds = tessaly.Dataset.from_arrays(x, y[::-1], u[::-1], v[::-1], [p[::-1], extra[::-1]])
    assert ds.channels == 3
    c = ds.arrays()["channels"]
    assert same_bits(c[..., 2], extra.astype(np.float32))  # reversed back with the rows
    assert same_bits(c[..., 1], p.astype(np.float32))
    assert c[..., 0].min() == np.float32(-4.0) and c[..., 0].max() == np.float32(2.5)


def test_description():
    x, y, u, v, p = field(nx=23, ny=17)
    ds = tessaly.Dataset.from_arrays(x, y, u, v)
    assert ds.shape == (17, 23)
    assert ds.extent == (float(np.float32(x[0])), float(np.float32(x[-1])),
                         float(np.float32(y[0])), float(np.float32(y[-1])))
    assert "23 x 17" in repr(ds)


def test_coads_through_xarray_is_the_imported_dataset(coads):
    xr = pytest.importorskip("xarray")
    want = tessaly.load(coads)
    jan = xr.open_dataset(COADS, decode_times=False).isel(TIME=0)
    got = tessaly.Dataset.from_arrays(jan.COADSX, jan.COADSY, jan.UWND, jan.VWND, jan.SLP,
                                      scalar_range=(975, 1045), flow_scale=0.1)
    assert_same_dataset(got, want)
    assert np.isnan(got.arrays()["u"]).sum() > 1000  # the land
    assert_same_dataset(tessaly.import_file(COADS, u="UWND", v="VWND", scalar="SLP",
                                            scalar_range=(975, 1045), flow_scale=0.1), want)
    july = tessaly.import_file(COADS, u="UWND", v="VWND", scalar="SLP", time=6)
    assert not same_bits(july.arrays()["u"], tessaly.import_file(COADS, u="UWND", v="VWND").arrays()["u"])
