// The test logo: a 512 x 200 frame with a diagonal, as RGBA pixels.
module.exports = function logo(width = 512, height = 200) {
    const data = new Uint8ClampedArray(width * height * 4);
    for (let y = 0; y < height; y++) {
        for (let x = 0; x < width; x++) {
            const d = Math.round((x * height) / width) - y;
            const black = y < 6 || y >= height - 6 || x < 6 || x >= width - 6 || (d >= -2 && d <= 2);
            const i = (y * width + x) * 4;
            data[i] = data[i + 1] = data[i + 2] = black ? 0 : 255;
            data[i + 3] = 255;
        }
    }
    return { data, width, height };
};
