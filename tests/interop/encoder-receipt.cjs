// Prints a receipt through an ESC/POS encoder library (it only makes the bytes;
// they go to the printer over raw TCP).
//   node encoder-receipt.cjs PORT [raster|column]
const ReceiptPrinterEncoder = require('@point-of-sale/receipt-printer-encoder');
const logo = require('./logo.cjs');
const send = require('./send.cjs');

const [port, mode = 'raster'] = process.argv.slice(2);
const encoder = new ReceiptPrinterEncoder({
    language: 'esc-pos',
    columns: 48,
    imageMode: mode,
    codepageMapping: 'epson',
});
const bytes = encoder
    .initialize()
    .codepage('windows1252')
    .align('center')
    .image(logo(), 512, 200)
    .bold(true)
    .size(2, 2)
    .line('VANTREEL CAFE')
    .size(1, 1)
    .bold(false)
    .align('left')
    .line('Café crème                 2,40 €')
    .underline(true)
    .line('Croissant                  1,90 €')
    .underline(false)
    .invert(true)
    .line(' MEMBER 4711 ')
    .invert(false)
    .align('center')
    .barcode('5901234123457', 'ean13', 60)
    .qrcode('https://example.com/receipt/42')
    .pulse()
    .cut()
    .encode();

send(Number(port), Buffer.from(bytes)).catch((error) => {
    console.error(`encoder-receipt: ${error.message}`);
    process.exit(1);
});
