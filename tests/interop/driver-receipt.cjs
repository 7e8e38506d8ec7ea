// Prints a receipt through a full printer driver library, which talks to the
// printer over raw TCP itself.
//   node driver-receipt.cjs PORT
const { PNG } = require('pngjs');
const { ThermalPrinter, PrinterTypes, CharacterSet } = require('node-thermal-printer');
const logo = require('./logo.cjs');

async function main(port) {
    const printer = new ThermalPrinter({
        type: PrinterTypes.EPSON,
        interface: `tcp://127.0.0.1:${port}`,
        characterSet: CharacterSet.WPC1252,
        width: 48,
    });
    const { data, width, height } = logo();
    const png = new PNG({ width, height });
    png.data = Buffer.from(data);
    printer.alignCenter();
    await printer.printImageBuffer(PNG.sync.write(png));
    printer.setTextDoubleHeight();
    printer.setTextDoubleWidth();
    printer.bold(true);
    printer.println('VANTREEL CAFE');
    printer.bold(false);
    printer.setTextNormal();
    printer.alignLeft();
    printer.leftRight('Café crème', '2,40 €');
    printer.underline(true);
    printer.leftRight('Croissant', '1,90 €');
    printer.underline(false);
    printer.invert(true);
    printer.println(' MEMBER 4711 ');
    printer.invert(false);
    printer.alignCenter();
    printer.printBarcode('5901234123457', 67, { hriPos: 2, height: 60 });
    printer.printQR('https://example.com/receipt/42', { cellSize: 4 });
    printer.openCashDrawer();
    printer.cut();
    await printer.execute({ waitForResponse: false });
}

main(Number(process.argv[2])).catch((error) => {
    console.error(`driver-receipt: ${error.message}`);
    process.exit(1);
});
